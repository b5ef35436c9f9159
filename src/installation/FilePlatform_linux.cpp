#include "FilePlatform.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

namespace {

thread_local int lastError = 0;

// Opens the folder and runs the flush call (fsync, syncfs) on it.
bool flushFolder(const QByteArray& path, int (*flush)(int))
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        lastError = errno;
        return false;
    }
    const int flushed = flush(fd);
    if (flushed != 0)
        lastError = errno;
    ::close(fd);
    return flushed == 0;
}

} // namespace

bool FilePlatform::flushDirectory(const QString& path)
{
    return flushFolder(QFile::encodeName(path), ::fsync);
}

bool FilePlatform::flushChanges(const QStringList&, const QStringList& folders)
{
    QSet<dev_t> devices;
    for (const QString& folder : folders) {
        struct stat info;
        const QByteArray path = QFile::encodeName(folder);
        if (::stat(path.constData(), &info) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                continue; // not there (any more): nothing of it to flush
            lastError = errno;
            return false;
        }
        if (!S_ISDIR(info.st_mode) || devices.contains(info.st_dev))
            continue;
        devices.insert(info.st_dev);
        if (!flushFolder(path, ::syncfs))
            return false;
    }
    return true;
}

bool FilePlatform::moveFile(const QString& from, const QString& to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    lastError = errno;
    if (lastError == EINVAL || lastError == ENOSYS) {
        // A file system without RENAME_NOREPLACE: look, then rename. Only
        // one installation at a time works in the folder.
        struct stat info;
        if (::lstat(target.constData(), &info) == 0) {
            lastError = EEXIST;
            return false;
        }
        if (::rename(source.constData(), target.constData()) == 0)
            return true;
        lastError = errno;
    }
    if (lastError != EXDEV)
        return false;
    // Another file system: QFile::copy never replaces the target either.
    if (!QFile::copy(from, to)) {
        struct stat info;
        lastError = ::lstat(target.constData(), &info) == 0 ? EEXIST : EIO;
        return false;
    }
    QFile::remove(from);
    return true;
}

bool FilePlatform::lastErrorWasExisting()
{
    return lastError == EEXIST;
}

bool FilePlatform::entryExists(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

bool FilePlatform::replaceFile(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    lastError = errno;
    return false;
}

int FilePlatform::maxNameLength(const QString& directory)
{
    const long length = ::pathconf(QFile::encodeName(directory).constData(), _PC_NAME_MAX);
    return length > 0 ? int(length) : 255;
}

int FilePlatform::nameLength(const QString& name)
{
    return QFile::encodeName(name).size();
}

QString FilePlatform::lastErrorText()
{
    return QString::fromLocal8Bit(std::strerror(lastError));
}
