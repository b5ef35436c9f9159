#include "FilePlatform.h"

#include <QFile>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

qintptr FilePlatform::openLockFile(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        lastError = errno; // ELOOP: a symbolic link, EISDIR: a folder
        return NoLockHandle;
    }
    struct stat info;
    const bool looked = ::fstat(fd, &info) == 0;
    if (!looked || !S_ISREG(info.st_mode)) {
        lastError = looked ? EINVAL : errno; // a pipe or a device in its place
        ::close(fd);
        return NoLockHandle;
    }
    return fd;
}

FilePlatform::LockOutcome FilePlatform::lockFile(qintptr handle, const QString& path)
{
    const int fd = int(handle);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        lastError = errno;
        return lastError == EWOULDBLOCK || lastError == EINTR ? LockOutcome::Busy : LockOutcome::Failed;
    }
    // The owner before us removed the file as it let go: our lock is then on
    // a file nobody else will open again.
    struct stat locked;
    struct stat named;
    if (::fstat(fd, &locked) != 0) {
        lastError = errno;
        return LockOutcome::Failed;
    }
    if (::lstat(QFile::encodeName(path).constData(), &named) != 0 || named.st_dev != locked.st_dev
        || named.st_ino != locked.st_ino)
        return LockOutcome::Replaced;
    return LockOutcome::Locked;
}

void FilePlatform::releaseLockFile(qintptr handle, const QString& path, bool remove)
{
    if (handle == NoLockHandle)
        return;
    if (remove)
        ::unlink(QFile::encodeName(path).constData());
    ::close(int(handle));
}

FilePlatform::FolderState FilePlatform::folderState(const QString& path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0) {
        lastError = errno;
        return errno == ENOENT ? FolderState::Missing : FolderState::Unreadable;
    }
    if (S_ISLNK(info.st_mode))
        return FolderState::Link;
    if (!S_ISDIR(info.st_mode))
        return FolderState::NotAFolder;
    if (info.st_uid != ::geteuid() && info.st_uid != 0)
        return FolderState::Foreign;
    return FolderState::Usable;
}

bool FilePlatform::flushFile(QFile& file)
{
    if (::fdatasync(file.handle()) == 0)
        return true;
    lastError = errno;
    return false;
}

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

bool FilePlatform::listFolder(const QString& folder, QStringList* files, QStringList* folders)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        lastError = errno;
        return false;
    }
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        lastError = errno;
        ::close(fd);
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') // hidden, and "." and ".."
            continue;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            // Some file systems do not tell: look.
            struct stat info;
            if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(info.st_mode) ? DT_REG : S_ISDIR(info.st_mode) ? DT_DIR : DT_LNK;
        }
        if (type == DT_REG)
            files->append(QFile::decodeName(entry->d_name));
        else if (type == DT_DIR)
            folders->append(QFile::decodeName(entry->d_name));
    }
    ::closedir(dir);
    return true;
}

FilePlatform::EntryKind FilePlatform::entryKind(const QString& path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return EntryKind::Missing;
    if (S_ISREG(info.st_mode))
        return EntryKind::File;
    if (S_ISLNK(info.st_mode))
        return EntryKind::Link;
    return S_ISDIR(info.st_mode) ? EntryKind::Folder : EntryKind::Other;
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
