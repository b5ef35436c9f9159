#include "PartialDownloadFiles.h"

#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

thread_local int lastError = 0;

bool fail()
{
    lastError = errno;
    return false;
}

} // namespace

PartialDownloadFiles::FolderState PartialDownloadFiles::folderState(const QString& path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        lastError = errno;
        return errno == ENOENT ? FolderState::Missing : FolderState::Refused;
    }
    const bool ownersOnly = (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    const bool owned = info.st_uid == ::geteuid() || info.st_uid == 0;
    return S_ISDIR(info.st_mode) && ownersOnly && owned ? FolderState::Usable : FolderState::Refused;
}

bool PartialDownloadFiles::createFolder(const QString& path)
{
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 || fail();
}

bool PartialDownloadFiles::removeEmptyFolder(const QString& path)
{
    return ::rmdir(QFile::encodeName(path).constData()) == 0 || fail();
}

PartialDownloadFiles::Handle PartialDownloadFiles::openFile(const QString& path, Open how)
{
    int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    if (how == Open::Read)
        flags |= O_RDONLY;
    else if (how == Open::Create)
        flags |= O_RDWR | O_CREAT;
    else
        flags |= O_RDWR;
    const int fd = ::open(QFile::encodeName(path).constData(), flags, 0600);
    if (fd < 0) {
        lastError = errno;
        return NoHandle;
    }
    // A FIFO or a device in its place is not a file to trust.
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        lastError = EINVAL;
        ::close(fd);
        return NoHandle;
    }
    return fd;
}

void PartialDownloadFiles::closeFile(Handle handle)
{
    if (handle != NoHandle)
        ::close(int(handle));
}

bool PartialDownloadFiles::lockFile(Handle handle)
{
    return ::flock(int(handle), LOCK_EX | LOCK_NB) == 0 || fail();
}

qint64 PartialDownloadFiles::fileSize(Handle handle)
{
    struct stat info;
    if (::fstat(int(handle), &info) != 0) {
        lastError = errno;
        return -1;
    }
    return info.st_size;
}

qint64 PartialDownloadFiles::readFile(Handle handle, char* data, qint64 size)
{
    for (;;) {
        const ssize_t length = ::read(int(handle), data, size_t(size));
        if (length >= 0)
            return length;
        if (errno != EINTR) {
            lastError = errno;
            return -1;
        }
    }
}

bool PartialDownloadFiles::writeFile(Handle handle, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t length = ::write(int(handle), data, size_t(size));
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0)
            return fail();
        if (length == 0) {
            lastError = ENOSPC;
            return false;
        }
        data += length;
        size -= length;
    }
    return true;
}

bool PartialDownloadFiles::truncateFile(Handle handle)
{
    return (::ftruncate(int(handle), 0) == 0 && ::lseek(int(handle), 0, SEEK_SET) == 0) || fail();
}

bool PartialDownloadFiles::removeFile(const QString& path)
{
    return ::unlink(QFile::encodeName(path).constData()) == 0 || errno == ENOENT || fail();
}

QString PartialDownloadFiles::lastErrorText()
{
    return QString::fromLocal8Bit(std::strerror(lastError));
}
