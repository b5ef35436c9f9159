#include "PackageFileDevice.h"

#include <cstring>

PackageFileDevice::PackageFileDevice(const QString& path)
    : m_file(path)
{
}

bool PackageFileDevice::open(OpenMode mode)
{
    if ((mode & WriteOnly) || !m_file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        setErrorString(m_file.errorString());
        return false;
    }
    m_window.resize(WindowSize);
    m_windowStart = 0;
    m_windowLength = 0;
    return QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void PackageFileDevice::close()
{
    QIODevice::close();
    m_file.close();
    m_window.clear();
    m_windowLength = 0;
}

qint64 PackageFileDevice::size() const
{
    return m_file.size();
}

bool PackageFileDevice::seek(qint64 position)
{
    if (position < 0 || position > size())
        return false;
    return QIODevice::seek(position);
}

qint64 PackageFileDevice::readData(char* data, qint64 maxSize)
{
    qint64 position = pos();
    qint64 done = 0;
    while (done < maxSize) {
        if (position < m_windowStart || position >= m_windowStart + m_windowLength) {
            // Reads larger than the window (an entry's data) go straight
            // through.
            const qint64 left = maxSize - done;
            if (left >= WindowSize) {
                if (!m_file.seek(position))
                    return done > 0 ? done : -1;
                const qint64 got = m_file.read(data + done, left);
                if (got < 0)
                    return done > 0 ? done : -1;
                return done + got;
            }
            if (!m_file.seek(position))
                return done > 0 ? done : -1;
            m_windowStart = position;
            m_windowLength = m_file.read(m_window.data(), WindowSize);
            if (m_windowLength <= 0) {
                m_windowLength = 0;
                return done;
            }
        }
        const qint64 offset = position - m_windowStart;
        const qint64 chunk = qMin(maxSize - done, m_windowLength - offset);
        std::memcpy(data + done, m_window.constData() + offset, size_t(chunk));
        done += chunk;
        position += chunk;
    }
    return done;
}

qint64 PackageFileDevice::writeData(const char*, qint64)
{
    return -1;
}
