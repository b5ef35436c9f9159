#include "FileListTools.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

const char* const OldFileSuffix = ".old";

QStringList toRelativePaths(const QDir& base, const QStringList& paths)
{
    const QString basePath = base.absolutePath();
    QStringList relativePaths;
    relativePaths.reserve(paths.size());
    for (const QString& path : paths)
        relativePaths.append(relativeToBase(basePath, path));
    return relativePaths;
}

QString relativeToBase(const QString& basePath, const QString& path)
{
    if (path.startsWith(basePath, Qt::CaseSensitive))
        return path.mid(basePath.size() + 1);
    return path;
}

bool removeFiles(const QStringList& paths)
{
    bool allRemoved = true;
    for (const QString& path : paths) {
        if (!QFile::exists(path))
            continue;
        if (!QFile::remove(path))
            allRemoved = false;
    }
    return allRemoved;
}

QStringList oldFileFilters()
{
    const QString pattern = QStringLiteral("*%1").arg(QLatin1String(OldFileSuffix));
    return QStringList() << pattern << pattern.toUpper();
}

QStringList findFilesInDirectory(const QDir& directory, const QStringList& nameFilters)
{
    QStringList paths =
        directory.entryList(nameFilters, QDir::Files | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::Unsorted);
    for (QString& path : paths)
        path = directory.absoluteFilePath(path);
    return paths;
}

QStringList findFilesRecursive(const QDir& directory, const QStringList& nameFilters)
{
    QStringList paths = findFilesInDirectory(directory, nameFilters);
    QDirIterator subdirectories(directory.absolutePath(), QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    while (subdirectories.hasNext())
        paths.append(findFilesRecursive(QDir(subdirectories.next()), nameFilters));
    return paths;
}

QStringList missingParentDirectories(const QStringList& relativePaths)
{
    QSet<QString> seen;
    QStringList missing;
    for (const QString& path : relativePaths) {
        QString parent = QFileInfo(path).path();
        while (parent != QLatin1String(".") && !parent.isEmpty() && !seen.contains(parent)) {
            seen.insert(parent);
            const QFileInfo info(parent);
            if (info.exists() || info.isSymLink())
                break;
            missing.append(parent);
            parent = QFileInfo(parent).path();
        }
    }
    // Deeper folders have longer names than the folders that hold them.
    std::sort(missing.begin(), missing.end(),
              [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return missing;
}

void removeEmptyDirectories(const QStringList& directories)
{
    QDir current;
    for (const QString& directory : directories)
        current.rmdir(directory);
}
