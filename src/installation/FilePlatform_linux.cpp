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

// Opens the folder and flushes the file system it lies on: the reason when
// that fails.
QString flushFileSystemOf(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return FilePlatform::errorText(errno);
    const int error = ::syncfs(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error == 0 ? QString() : FilePlatform::errorText(error);
}

} // namespace

QString FilePlatform::flushChanges(const QStringList&, const QStringList& folders)
{
    QSet<dev_t> devices;
    for (const QString& folder : folders) {
        struct stat info;
        const QByteArray path = QFile::encodeName(folder);
        if (::stat(path.constData(), &info) != 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                continue; // not there (any more): nothing of it to flush
            return FilePlatform::errorText(errno);
        }
        if (!S_ISDIR(info.st_mode) || devices.contains(info.st_dev))
            continue;
        devices.insert(info.st_dev);
        const QString error = flushFileSystemOf(path);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

bool FilePlatform::listFolder(const QString& folder, QStringList* files, QStringList* folders)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
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

bool FilePlatform::entryExists(const QString& path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
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

QString FilePlatform::fileIdentity(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QString();
    return QStringLiteral("%1:%2").arg(quint64(info.st_dev)).arg(quint64(info.st_ino));
}

bool FilePlatform::namesEqual(const QString& a, const QString& b)
{
    return a == b;
}

QString FilePlatform::errorText(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}
