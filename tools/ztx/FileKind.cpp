#include "FileKind.h"

#include <QFile>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

// QFileInfo tells only that such a file is neither a file nor a folder.
QString FileKind::describe(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status;
    if (::stat(QFile::encodeName(path).constData(), &status) == 0) {
        if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
            return QStringLiteral("a device");
        if (S_ISFIFO(status.st_mode))
            return QStringLiteral("a FIFO");
        if (S_ISSOCK(status.st_mode))
            return QStringLiteral("a socket");
    }
#else
    Q_UNUSED(path)
#endif
    return QStringLiteral("a special file");
}
