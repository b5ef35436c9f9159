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
    for (Window& window : m_windows) {
        window.bytes.resize(WindowSize);
        window.start = 0;
        window.length = 0;
    }
    // Looked at once: the zip reader asks for it at every seek.
    m_size = m_file.size();
    return QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

void PackageFileDevice::close()
{
    QIODevice::close();
    m_file.close();
    for (Window& window : m_windows) {
        window.bytes.clear();
        window.length = 0;
    }
}

qint64 PackageFileDevice::size() const
{
    return m_file.isOpen() ? m_size : m_file.size();
}

bool PackageFileDevice::seek(qint64 position)
{
    if (position < 0 || position > size())
        return false;
    return QIODevice::seek(position);
}

// The index of the window that holds the position, -1 when neither does.
int PackageFileDevice::windowHolding(qint64 position) const
{
    for (int i = 0; i < 2; ++i) {
        const Window& window = m_windows[i];
        if (position >= window.start && position < window.start + window.length)
            return i;
    }
    return -1;
}

// The window that holds the position (holding, from windowHolding), filled
// from the file when neither does: the one used longer ago is refilled.
const PackageFileDevice::Window* PackageFileDevice::windowAt(qint64 position, int holding)
{
    if (holding >= 0) {
        m_lastUsed = holding;
        return &m_windows[holding];
    }
    const int refill = 1 - m_lastUsed;
    Window& window = m_windows[refill];
    window.length = 0;
    if (!m_file.seek(position))
        return nullptr;
    const qint64 got = m_file.read(window.bytes.data(), WindowSize);
    if (got <= 0)
        return nullptr;
    window.start = position;
    window.length = got;
    m_lastUsed = refill;
    return &window;
}

qint64 PackageFileDevice::readData(char* data, qint64 maxSize)
{
    qint64 position = pos();
    qint64 done = 0;
    while (done < maxSize) {
        const qint64 left = maxSize - done;
        const int holding = windowHolding(position);
        if (left >= WindowSize && holding < 0) {
            // Reads larger than a window (an entry's data) go straight
            // through.
            if (!m_file.seek(position))
                return done > 0 ? done : -1;
            const qint64 got = m_file.read(data + done, left);
            if (got < 0)
                return done > 0 ? done : -1;
            return done + got;
        }
        const Window* window = windowAt(position, holding);
        if (!window)
            return done;
        const qint64 offset = position - window->start;
        const qint64 chunk = qMin(left, window->length - offset);
        std::memcpy(data + done, window->bytes.constData() + offset, size_t(chunk));
        done += chunk;
        position += chunk;
    }
    return done;
}

qint64 PackageFileDevice::writeData(const char*, qint64)
{
    return -1;
}
