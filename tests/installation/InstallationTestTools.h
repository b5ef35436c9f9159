#ifndef INSTALLATIONTESTTOOLS_H
#define INSTALLATIONTESTTOOLS_H

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>

#include "controller/CDefaultLibrary.h"

#include <sys/stat.h>

namespace InstallationTestTools {

// What finalizeUpdate does with a package once it is verified: unpack and
// install it into the current directory, then clear away the old files.
inline bool installPackage(CDefaultLibrary& library, const QByteArray& package)
{
    if (!library.m_tempFile.open())
        return false;
    library.m_tempFile.write(package);
    library.m_tempFile.close();
    const bool installed = library.replaceFileByUpdateType();
    if (installed)
        library.tryRemoveAllOldFiles();
    return installed;
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

inline int modeBits(const QString& path)
{
    struct stat info;
    if (lstat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 07777);
}

// The entries of the folder "UPDATES" (the unpack folders left behind).
inline QStringList updatesEntries(const QString& installDir)
{
    return QDir(installDir + QStringLiteral("/UPDATES")).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                                   | QDir::NoDotAndDotDot);
}

} // namespace InstallationTestTools

#endif
