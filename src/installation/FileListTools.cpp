#include "FileListTools.h"

#include "BackgroundWork.h"
#include "FilePlatform.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QVector>

#include <algorithm>
#include <atomic>

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

namespace {

// Files of a long list are deleted by this many threads side by side: the
// file system frees each file's blocks in the call, and on a journalling
// file system four threads measured about 0.6 of the time of one for 1,000
// files.
const int MaxRemovingThreads = 4;
const int MinFilesPerRemovingThread = 128;

bool removeEvery(const QStringList& paths, int first, int step)
{
    bool allRemoved = true;
    for (int i = first; i < paths.size(); i += step) {
        // A file that is not there is not a failure.
        if (!QFile::remove(paths.at(i)) && FilePlatform::entryExists(paths.at(i)))
            allRemoved = false;
    }
    return allRemoved;
}

} // namespace

bool removeFiles(const QStringList& paths)
{
    const int threads = qBound(1, paths.size() / MinFilesPerRemovingThread, MaxRemovingThreads);
    if (threads == 1)
        return removeEvery(paths, 0, 1);
    std::atomic<bool> allRemoved(true);
    BackgroundWork work;
    for (int k = 0; k < threads; ++k) {
        work.start([&paths, &allRemoved, k, threads] {
            if (!removeEvery(paths, k, threads))
                allRemoved.store(false);
        });
    }
    work.wait();
    return allRemoved.load();
}

namespace {

// A name filter: "*<ending>" is told by the name's ending (as QDir matches
// wildcards: without regard to case), any other by its wildcard pattern.
struct NameFilter {
    QString ending;
    QRegularExpression pattern;

    bool matches(const QString& name) const
    {
        return pattern.pattern().isEmpty() ? name.endsWith(ending, Qt::CaseInsensitive)
                                           : pattern.match(name).hasMatch();
    }
};

QVector<NameFilter> toNameFilters(const QStringList& nameFilters)
{
    static const QRegularExpression wildcards(QStringLiteral("[*?\\[\\]]"));
    QVector<NameFilter> filters;
    for (const QString& filter : nameFilters) {
        NameFilter nameFilter;
        if (filter.startsWith(QLatin1Char('*')) && !filter.mid(1).contains(wildcards))
            nameFilter.ending = filter.mid(1);
        else
            nameFilter.pattern = QRegularExpression(QRegularExpression::wildcardToRegularExpression(filter),
                                                    QRegularExpression::CaseInsensitiveOption);
        filters.append(nameFilter);
    }
    return filters;
}

// A folder's matching files first, then those of its subfolders, folder by
// folder.
void appendFilesRecursive(const QString& directory, const QVector<NameFilter>& filters, QStringList* paths,
                          const QStringList& skipped = QStringList())
{
    QStringList files;
    QStringList subdirectories;
    if (!FilePlatform::listFolder(directory, &files, &subdirectories))
        return;
    const QString prefix = directory.endsWith(QLatin1Char('/')) ? directory : directory + QLatin1Char('/');
    for (const QString& name : qAsConst(files)) {
        for (const NameFilter& filter : filters) {
            if (filter.matches(name)) {
                paths->append(prefix + name);
                break;
            }
        }
    }
    for (const QString& subdirectory : qAsConst(subdirectories)) {
        if (!skipped.contains(subdirectory))
            appendFilesRecursive(prefix + subdirectory, filters, paths);
    }
}

} // namespace

QStringList findFilesRecursive(const QDir& directory, const QStringList& nameFilters, const QStringList& skipped)
{
    QStringList paths;
    appendFilesRecursive(directory.absolutePath(), toNameFilters(nameFilters), &paths, skipped);
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
