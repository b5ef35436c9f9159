#include "PackageFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

PackageFile::PackageFile(QTemporaryFile& file)
    : m_file(file)
{
}

bool PackageFile::isSha256Text(const QByteArray& text)
{
    static const QRegularExpression hex(QStringLiteral("\\A[0-9A-Fa-f]{64}\\z"));
    return hex.match(QString::fromLatin1(text)).hasMatch();
}

bool PackageFile::open()
{
    m_digest.reset();
    m_writeFailed = false;
    m_digestChecked = false;
    if (!m_file.open())
        return false;
    // A second open reopens the same file as it was.
    return m_file.size() == 0 || m_file.resize(0);
}

bool PackageFile::write(const char* data, qint64 size)
{
    if (m_writeFailed)
        return false;
    m_digestChecked = false;
    // A write that fills the disk stores what fits and returns that much
    // without an error; the next one fails and leaves the system's reason
    // ("No space left on device") in the file's error string. The digest
    // takes exactly what the file took.
    qint64 written = 0;
    while (written < size) {
        const qint64 now = m_file.write(data + written, size - written);
        if (now <= 0) {
            m_writeFailed = true;
            return false;
        }
        m_digest.add(data + written, now);
        written += now;
    }
    return true;
}

bool PackageFile::startOver()
{
    m_digest.reset();
    m_writeFailed = false;
    m_digestChecked = false;
    return m_file.seek(0) && m_file.resize(0);
}

void PackageFile::close()
{
    m_file.close();
}

QFileDevice::FileError PackageFile::error() const
{
    return m_file.error();
}

QString PackageFile::errorString() const
{
    return m_file.errorString();
}

qint64 PackageFile::size() const
{
    return m_file.size();
}

QString PackageFile::path() const
{
    return QFileInfo(m_file).absoluteFilePath();
}

const PackageDigest* PackageFile::digest(QString& error)
{
    if (m_digestChecked)
        return &m_digest;
    // Every byte written through write() is in the digest, so a file of the
    // digest's length is the file the digest was taken of.
    QFile package(m_file.fileName());
    if (package.size() == m_digest.size()) {
        m_digestChecked = true;
        return &m_digest;
    }
    m_digest.reset();
    if (!package.open(QIODevice::ReadOnly)) {
        error = package.errorString();
        return nullptr;
    }
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    for (;;) {
        const qint64 length = package.read(piece.data(), piece.size());
        if (length < 0) {
            error = package.errorString();
            m_digest.reset();
            return nullptr;
        }
        if (length == 0)
            break;
        m_digest.add(piece.constData(), length);
    }
    m_digestChecked = true;
    return &m_digest;
}

void PackageFile::dropBytes()
{
    m_file.resize(0);
    m_digestChecked = false;
}
