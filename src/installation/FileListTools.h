#ifndef FILELISTTOOLS_H
#define FILELISTTOOLS_H

#include <QDir>
#include <QString>
#include <QStringList>

// Helpers of the file replacement transaction: path lists, deletion and the
// search for files moved aside by earlier installations.

// relativeToBase applied to every path, with the base's absolute path.
QStringList toRelativePaths(const QDir& base, const QStringList& paths);

// The path without "<basePath>/" in front when it starts with basePath
// (case-sensitive); otherwise the path unchanged.
QString relativeToBase(const QString& basePath, const QString& path);

// Deletes every listed file that exists and goes on after a failure; true
// when each existing file was deleted.
bool removeFiles(const QStringList& paths);

// Absolute paths of the files below the directory that match the wildcard
// filters (case-insensitively, as QDir matches them): regular files only, no
// symbolic links, no hidden entries, and no descent into symbolic links or
// hidden directories, nor into the folders of the directory itself named in
// skipped. Each folder is read once.
QStringList findFilesRecursive(const QDir& directory, const QStringList& nameFilters,
                               const QStringList& skipped = QStringList());

// The parent folders of the relative paths that do not exist yet, deepest
// first, so that a failed installation can take away the folders it made.
QStringList missingParentDirectories(const QStringList& relativePaths);

#endif
