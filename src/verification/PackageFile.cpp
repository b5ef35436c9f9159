#include "PackageFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

PackageFile::PackageFile(QTemporaryFile& file)
    : m_file(file)
    , m_device(&file)
{
}

bool PackageFile::isSha256Text(const QByteArray& text)
{
    static const QRegularExpression hex(QStringLiteral("\\A[0-9A-Fa-f]{64}\\z"));
    return hex.match(QString::fromLatin1(text)).hasMatch();
}

bool PackageFile::open()
{
    release();
    forget();
    m_writeFailed = false;
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
        const qint64 now = m_device->write(data + written, size - written);
        if (now <= 0) {
            m_writeFailed = true;
            return false;
        }
        m_digest.add(data + written, now);
        written += now;
    }
    return true;
}

bool PackageFile::adopt(int descriptor, const QString& path, const QString& readPath)
{
    release();
    if (!m_kept.open(descriptor, QIODevice::ReadWrite, QFileDevice::DontCloseHandle) || !m_kept.seek(0))
        return false;
    if (!digestAnew(m_kept) || m_digest.size() != m_kept.size()) {
        m_kept.close();
        m_digest.reset();
        return false;
    }
    // What the temporary file held so far is no longer the package.
    if (m_file.isOpen())
        m_file.seek(0);
    m_file.resize(0);
    m_writeFailed = false;
    m_digestChecked = false;
    m_keptPath = path;
    m_keptReadPath = readPath;
    m_device = &m_kept;
    return true;
}

void PackageFile::release()
{
    if (m_device != &m_kept)
        return;
    m_kept.close();
    m_keptPath.clear();
    m_keptReadPath.clear();
    m_device = &m_file;
    forget();
    if (m_file.isOpen()) {
        m_file.seek(0);
        m_file.resize(0);
    }
}

// The kept file stays open until it is released: it has no name of its own
// to be opened by again.
void PackageFile::close()
{
    if (isAdopted())
        m_kept.flush();
    else
        m_file.close();
}

QFileDevice::FileError PackageFile::error() const
{
    return m_device->error();
}

QString PackageFile::errorString() const
{
    return m_readError.isEmpty() ? m_device->errorString() : m_readError;
}

qint64 PackageFile::size() const
{
    return m_device->size();
}

QString PackageFile::path() const
{
    return isAdopted() ? m_keptPath : QFileInfo(m_file).absoluteFilePath();
}

QString PackageFile::readPath() const
{
    return isAdopted() ? m_keptReadPath : path();
}

const PackageDigest* PackageFile::digest()
{
    m_readError.clear();
    if (m_digestChecked)
        return &m_digest;
    // Every byte written through write() is in the digest, so a file of the
    // digest's length is the file the digest was taken of.
    QFile package(readPath());
    if ((isAdopted() ? m_kept.size() : package.size()) == m_digest.size()) {
        m_digestChecked = true;
        return &m_digest;
    }
    if (!package.open(QIODevice::ReadOnly) || !digestAnew(package)) {
        m_readError = package.errorString();
        m_digest.reset();
        return nullptr;
    }
    m_digestChecked = true;
    return &m_digest;
}

void PackageFile::forget()
{
    m_digest.reset();
    m_digestChecked = false;
}

// False when the file cannot be read to its end; the digest then holds what
// was read before, for the caller to reset.
bool PackageFile::digestAnew(QFile& file)
{
    m_digest.reset();
    QByteArray piece(64 * 1024, Qt::Uninitialized);
    qint64 length = 0;
    while ((length = file.read(piece.data(), piece.size())) > 0)
        m_digest.add(piece.constData(), length);
    return length == 0;
}

void PackageFile::dropBytes()
{
    m_device->resize(0);
    m_digestChecked = false;
}
