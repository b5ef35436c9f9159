#include "FolderHandle.h"

#include "FilePlatform.h"

#include <QByteArray>
#include <QSet>

#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

struct FolderHandle::Handle {
    explicit Handle(int descriptor)
        : fd(descriptor)
    {
    }
    ~Handle() { ::close(fd); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    const int fd;
};

namespace {

const int FolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

QByteArray encoded(const QString& name)
{
    return QFile::encodeName(name);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

FolderHandle::Kind kindOf(mode_t mode)
{
    if (S_ISREG(mode))
        return FolderHandle::Kind::File;
    if (S_ISDIR(mode))
        return FolderHandle::Kind::Folder;
    if (S_ISLNK(mode))
        return FolderHandle::Kind::Link;
    return FolderHandle::Kind::Other;
}

// Qt keeps read, write and execute in one hex digit each: owner 0x?000,
// user 0x0?00 (the owner, on Unix), group 0x00?0, others 0x000?.
mode_t modeOf(QFile::Permissions permissions)
{
    const unsigned p = unsigned(permissions);
    return mode_t(((((p >> 12) | (p >> 8)) & 7) << 6) | (((p >> 4) & 7) << 3) | (p & 7));
}

FolderHandle::Owner ownerOfInfo(const struct stat& info)
{
    if (info.st_uid == ::geteuid())
        return FolderHandle::Owner::Caller;
    return info.st_uid == 0 ? FolderHandle::Owner::Administrator : FolderHandle::Owner::OtherUser;
}

FolderHandle::Owner ownerOfDescriptor(int fd)
{
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0)
        return FolderHandle::Owner::OtherUser;
    return ownerOfInfo(info);
}

// Makes the folder `name` in `parent` for its owner alone, whatever the umask
// lets through, and opens it: its descriptor, or -1 with errno set.
int makeFolderAt(int parent, const char* name)
{
    if (::mkdirat(parent, name, S_IRWXU) != 0)
        return -1;
    const int fd = ::openat(parent, name, FolderFlags);
    if (fd >= 0 && ::fchmod(fd, S_IRWXU) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// Opens `file` on the descriptor, which it then owns; closes the descriptor
// when that fails.
bool openOn(QFile& file, int fd, QIODevice::OpenMode mode)
{
    if (file.open(fd, mode, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
}

FolderHandle::LockResult lockResultOf(int error)
{
    return error == EWOULDBLOCK || error == EINTR ? FolderHandle::LockResult::Busy : FolderHandle::LockResult::Failed;
}

// Copies the open file `from` into the new file `to` (made with the mode of
// `from`) and flushes it.
bool copyOpenFile(int from, int targetFolder, const char* to, int* error)
{
    struct stat info;
    if (::fstat(from, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = errno ? errno : EINVAL;
        return false;
    }
    const int out = ::openat(targetFolder, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                             info.st_mode & 0777);
    if (out < 0) {
        *error = errno;
        return false;
    }
    bool copied = ::fchmod(out, info.st_mode & 07777) == 0;
    for (off_t left = info.st_size; copied && left > 0;) {
        const ssize_t sent = ::sendfile(out, from, nullptr, size_t(qMin<off_t>(left, 1 << 30)));
        if (sent <= 0)
            copied = false;
        else
            left -= sent;
    }
    copied = copied && ::fdatasync(out) == 0;
    *error = copied ? 0 : (errno ? errno : EIO);
    ::close(out);
    if (!copied)
        ::unlinkat(targetFolder, to, 0);
    return copied;
}

} // namespace

FolderHandle::FolderHandle() = default;

FolderHandle::FolderHandle(const QSharedPointer<Handle>& handle)
    : m_handle(handle)
{
}

bool FolderHandle::fail(const QString& note)
{
    return failWith(errno, note);
}

// The system's reason, as QFile gives it: the caller names what failed.
bool FolderHandle::failWith(int error, const QString& note)
{
    m_existing = error == EEXIST || error == ENOTEMPTY;
    m_error = FilePlatform::errorText(error);
    if (!note.isEmpty())
        m_error += QLatin1Char(' ') + note;
    return false;
}

FolderHandle FolderHandle::open(const QString& path)
{
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        FolderHandle failed;
        failed.fail();
        return failed;
    }
    return FolderHandle(QSharedPointer<Handle>::create(fd));
}

bool FolderHandle::isOpen() const
{
    return !m_handle.isNull();
}

FolderHandle FolderHandle::openFolder(const QString& relativePath, bool create)
{
    FolderHandle opened;
    if (!isOpen()) {
        opened.m_error = m_error;
        return opened;
    }
    QSharedPointer<Handle> current = m_handle;
    const QStringList parts = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            opened.failWith(EINVAL);
            return opened;
        }
        const QByteArray name = encoded(part);
        int fd = ::openat(current->fd, name.constData(), FolderFlags);
        if (fd < 0 && errno == ENOENT && create) {
            fd = makeFolderAt(current->fd, name.constData());
            if (fd < 0 && errno == EEXIST) // another thread made it at the same moment
                fd = ::openat(current->fd, name.constData(), FolderFlags);
        }
        if (fd < 0) {
            // ELOOP and ENOTDIR: a link or a file where the folder should be.
            opened.fail();
            return opened;
        }
        current = QSharedPointer<Handle>::create(fd);
    }
    opened.m_handle = current;
    return opened;
}

FolderHandle FolderHandle::createFolder(const QString& name)
{
    FolderHandle made;
    const int fd = isOpen() ? makeFolderAt(m_handle->fd, encoded(name).constData()) : -1;
    if (fd < 0) {
        made.fail();
        return made;
    }
    made.m_handle = QSharedPointer<Handle>::create(fd);
    return made;
}

FolderHandle::Owner FolderHandle::owner() const
{
    return ownerOfDescriptor(isOpen() ? m_handle->fd : -1);
}

FolderHandle::Owner FolderHandle::ownerOf(QFile& file)
{
    return ownerOfDescriptor(file.handle());
}

bool FolderHandle::othersMayWrite() const
{
    struct stat info;
    if (!isOpen() || ::fstat(m_handle->fd, &info) != 0)
        return true;
    return (info.st_mode & (S_IWGRP | S_IWOTH)) != 0;
}

bool FolderHandle::makePrivate()
{
    if (::fchmod(m_handle->fd, S_IRWXU) == 0)
        return true;
    return fail();
}

bool FolderHandle::isEntryOf(const FolderHandle& parent, const QString& name) const
{
    struct stat mine;
    struct stat named;
    return isOpen() && parent.isOpen() && ::fstat(m_handle->fd, &mine) == 0
           && ::fstatat(parent.m_handle->fd, encoded(name).constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
           && sameFile(mine, named);
}

FolderHandle::Kind FolderHandle::kind(const QString& relativePath) const
{
    struct stat info;
    if (!isOpen() || ::fstatat(m_handle->fd, encoded(relativePath).constData(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        return Kind::Missing;
    return kindOf(info.st_mode);
}

bool FolderHandle::list(QVector<Entry>* entries)
{
    entries->clear();
    const int fd = ::openat(m_handle->fd, ".", FolderFlags);
    if (fd < 0)
        return fail();
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return fail();
    }
    while (const dirent* found = ::readdir(dir)) {
        const char* name = found->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        Entry entry;
        entry.name = QFile::decodeName(name);
        if (found->d_type == DT_UNKNOWN) {
            // Some file systems do not tell: look.
            struct stat info;
            entry.kind = ::fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) == 0 ? kindOf(info.st_mode) : Kind::Missing;
        } else {
            entry.kind = kindOf(DTTOIF(found->d_type));
        }
        entries->append(entry);
    }
    ::closedir(dir);
    return true;
}

bool FolderHandle::createFile(QFile& file, const QString& relativePath, QIODevice::OpenMode mode)
{
    const int access = (mode & QIODevice::ReadOnly) ? O_RDWR : O_WRONLY;
    const int fd = ::openat(m_handle->fd, encoded(relativePath).constData(),
                            access | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        return fail();
    if (!openOn(file, fd, mode)) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

bool FolderHandle::openFile(QFile& file, const QString& relativePath)
{
    const int fd = ::openat(m_handle->fd, encoded(relativePath).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return fail();
    struct stat info;
    const bool looked = ::fstat(fd, &info) == 0;
    if (!looked || !S_ISREG(info.st_mode)) {
        const int error = looked ? EINVAL : errno;
        ::close(fd);
        return failWith(error);
    }
    if (!openOn(file, fd, QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

bool FolderHandle::openFileForUpdate(QFile& file, const QString& relativePath, bool create)
{
    const int fd = ::openat(m_handle->fd, encoded(relativePath).constData(),
                            O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (create ? O_CREAT : 0), S_IRUSR | S_IWUSR);
    if (fd < 0)
        return fail();
    struct stat info;
    const bool looked = ::fstat(fd, &info) == 0;
    if (!looked || !S_ISREG(info.st_mode) || ownerOfInfo(info) == Owner::OtherUser) {
        const int error = looked ? (S_ISREG(info.st_mode) ? EPERM : EINVAL) : errno;
        ::close(fd);
        return failWith(error, looked ? QStringLiteral("(not a file of this user's)") : QString());
    }
    if (!openOn(file, fd, QIODevice::ReadWrite)) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

QString FolderHandle::pathOfOpenFile(QFile& file, const QString& name)
{
    const QString path = QStringLiteral("/proc/self/fd/%1").arg(file.handle());
    struct stat viaPath;
    struct stat opened;
    if (file.handle() >= 0 && ::stat(QFile::encodeName(path).constData(), &viaPath) == 0
        && ::fstat(file.handle(), &opened) == 0 && sameFile(viaPath, opened))
        return path;
    return name;
}

bool FolderHandle::setPermissions(QFile& file, QFile::Permissions permissions)
{
    if (::fchmod(file.handle(), modeOf(permissions)) == 0)
        return true;
    return fail();
}

bool FolderHandle::flushFile(QFile& file)
{
    if (::fdatasync(file.handle()) == 0)
        return true;
    return fail();
}

bool FolderHandle::rename(const QString& from, FolderHandle& target, const QString& to, bool replace)
{
    m_existing = false;
    const QByteArray source = encoded(from);
    const QByteArray destination = encoded(to);
    const int targetFd = target.m_handle->fd;
    int moved = replace ? ::renameat(m_handle->fd, source.constData(), targetFd, destination.constData())
                        : ::renameat2(m_handle->fd, source.constData(), targetFd, destination.constData(),
                                      RENAME_NOREPLACE);
    if (moved != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without RENAME_NOREPLACE: look, then rename. Only
        // one installation at a time works in the folder.
        struct stat info;
        if (::fstatat(targetFd, destination.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0)
            return failWith(EEXIST);
        moved = ::renameat(m_handle->fd, source.constData(), targetFd, destination.constData());
    }
    if (moved == 0)
        return true;
    if (errno != EXDEV)
        return fail();

    // Another file system: copied (under a name of its own first when it
    // is to replace what stands there), then the original goes.
    const int in = ::openat(m_handle->fd, source.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0)
        return fail();
    const QByteArray copyName = replace ? destination + ".copy-" + QByteArray::number(::getpid()) : destination;
    int error = 0;
    const bool copied = copyOpenFile(in, targetFd, copyName.constData(), &error);
    ::close(in);
    if (!copied)
        return failWith(error);
    if (replace && ::renameat(targetFd, copyName.constData(), targetFd, destination.constData()) != 0) {
        error = errno;
        ::unlinkat(targetFd, copyName.constData(), 0);
        return failWith(error);
    }
    ::unlinkat(m_handle->fd, source.constData(), 0);
    return true;
}

bool FolderHandle::remove(const QString& relativePath)
{
    if (::unlinkat(m_handle->fd, encoded(relativePath).constData(), 0) == 0)
        return true;
    return fail();
}

bool FolderHandle::removeFolder(const QString& relativePath)
{
    if (::unlinkat(m_handle->fd, encoded(relativePath).constData(), AT_REMOVEDIR) == 0)
        return true;
    return fail();
}

// Depth first, as rm -r goes since its own races were found: each folder is
// entered by a handle opened without following a link, left through ".."
// only after checking that ".." is still the folder it came from, and at any
// moment only one folder of the tree is open, however deep it is.
bool FolderHandle::removeTree(const QString& name)
{
    const QByteArray top = encoded(name);
    int current = ::openat(m_handle->fd, top.constData(), FolderFlags);
    if (current < 0) {
        if (errno == ENOENT)
            return true;
        if (errno != ENOTDIR && errno != ELOOP)
            return fail();
        // A file, or a link: removed itself.
        if (::unlinkat(m_handle->fd, top.constData(), 0) == 0 || errno == ENOENT)
            return true;
        return fail();
    }

    struct Level {
        struct stat identity;
        QByteArray name;
        QSet<QByteArray> keep; // subfolders that could not be removed
    };
    QVector<Level> levels(1);
    levels[0].name = top;
    if (::fstat(current, &levels[0].identity) != 0) {
        ::close(current);
        return fail();
    }
    int firstError = 0;
    for (;;) {
        QByteArray subfolder;
        const int listing = ::openat(current, ".", FolderFlags);
        DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (!dir) {
            firstError = firstError ? firstError : errno;
            if (listing >= 0)
                ::close(listing);
        }
        while (const dirent* found = dir ? ::readdir(dir) : nullptr) {
            const char* entry = found->d_name;
            if (std::strcmp(entry, ".") == 0 || std::strcmp(entry, "..") == 0)
                continue;
            unsigned char type = found->d_type;
            if (type == DT_UNKNOWN) {
                struct stat info;
                if (::fstatat(current, entry, &info, AT_SYMLINK_NOFOLLOW) != 0)
                    continue;
                type = S_ISDIR(info.st_mode) ? DT_DIR : DT_REG;
            }
            if (type == DT_DIR) {
                if (subfolder.isEmpty() && !levels.last().keep.contains(QByteArray(entry)))
                    subfolder = entry;
                continue;
            }
            if (::unlinkat(current, entry, 0) != 0 && errno != ENOENT)
                firstError = firstError ? firstError : errno;
        }
        if (dir)
            ::closedir(dir);

        if (!subfolder.isEmpty()) {
            const int child = ::openat(current, subfolder.constData(), FolderFlags);
            if (child < 0) {
                // Turned into a file or a link meanwhile: removed itself.
                if ((errno != ENOTDIR && errno != ELOOP) || ::unlinkat(current, subfolder.constData(), 0) != 0) {
                    firstError = firstError ? firstError : errno;
                    levels.last().keep.insert(subfolder);
                }
                continue;
            }
            Level level;
            level.name = subfolder;
            ::fstat(child, &level.identity);
            levels.append(level);
            ::close(current);
            current = child;
            continue;
        }

        // This folder holds nothing more that can go: up, and remove it.
        const Level done = levels.takeLast();
        if (levels.isEmpty()) {
            ::close(current);
            if (::unlinkat(m_handle->fd, top.constData(), AT_REMOVEDIR) != 0 && errno != ENOENT)
                firstError = firstError ? firstError : errno;
            break;
        }
        const int parent = ::openat(current, "..", FolderFlags);
        ::close(current);
        struct stat parentIdentity;
        if (parent < 0 || ::fstat(parent, &parentIdentity) != 0 || !sameFile(parentIdentity, levels.last().identity)) {
            // The tree was moved while we were in it: stop rather than
            // remove anything outside it.
            if (parent >= 0)
                ::close(parent);
            return failWith(EXDEV, QStringLiteral("(the folder was moved while it was being removed)"));
        }
        current = parent;
        if (::unlinkat(current, done.name.constData(), AT_REMOVEDIR) != 0) {
            firstError = firstError ? firstError : errno;
            levels.last().keep.insert(done.name);
        }
    }
    if (firstError != 0)
        return failWith(firstError);
    return true;
}

bool FolderHandle::flush()
{
    if (::fsync(m_handle->fd) == 0)
        return true;
    return fail();
}

FolderHandle::LockResult FolderHandle::lockFolder()
{
    if (::flock(m_handle->fd, LOCK_EX | LOCK_NB) == 0)
        return LockResult::Locked;
    const int error = errno;
    failWith(error);
    return lockResultOf(error);
}

void FolderHandle::unlockFolder()
{
    if (isOpen())
        ::flock(m_handle->fd, LOCK_UN);
}

FolderHandle::LockResult FolderHandle::openLockFile(QFile& file, const QString& name)
{
    const QByteArray lockName = encoded(name);
    const int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    int fd = ::openat(m_handle->fd, lockName.constData(), O_RDWR | O_CREAT | flags, 0644);
    if (fd < 0 && errno == EACCES)
        fd = ::openat(m_handle->fd, lockName.constData(), O_RDONLY | flags);
    if (fd < 0) {
        const int error = errno;
        fail();
        // ELOOP: a link; EISDIR: a folder; ENXIO: a socket; EACCES: a file
        // we may not even read.
        return error == ELOOP || error == EISDIR || error == ENXIO || error == EACCES || error == EWOULDBLOCK
                       ? LockResult::NotAFile
                       : LockResult::Failed;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        failWith(EINVAL, QStringLiteral("(not a file)"));
        return LockResult::NotAFile;
    }
    if (ownerOfInfo(info) == Owner::OtherUser) {
        ::close(fd);
        failWith(EPERM, QStringLiteral("(another user's file)"));
        return LockResult::NotAFile;
    }
    // Readable by every installer, whatever the umask: one that cannot open
    // it could not tell whether it is held.
    if (info.st_uid == ::geteuid() && (info.st_mode & 0777) != 0644)
        ::fchmod(fd, 0644);
    if (!openOn(file, fd, QIODevice::ReadOnly)) {
        m_error = file.errorString();
        return LockResult::Failed;
    }
    return LockResult::Locked;
}

FolderHandle::LockResult FolderHandle::lockFile(QFile& file, const QString& name)
{
    const int fd = file.handle();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        file.close();
        failWith(error);
        return lockResultOf(error);
    }
    // The owner before us removed the file as it let go: our lock is then on
    // a file nobody else will open again.
    struct stat locked;
    struct stat named;
    if (::fstat(fd, &locked) != 0
        || ::fstatat(m_handle->fd, encoded(name).constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || !sameFile(named, locked)) {
        file.close();
        return LockResult::Replaced;
    }
    return LockResult::Locked;
}

void FolderHandle::unlockFile(QFile& file, const QString& name)
{
    if (!file.isOpen())
        return;
    // The file goes while the lock is still ours: an installer that opened
    // it meanwhile finds, once it has the lock, that the name stands for
    // another file or none, and starts again.
    if (isOpen())
        ::unlinkat(m_handle->fd, encoded(name).constData(), 0);
    file.close();
}
