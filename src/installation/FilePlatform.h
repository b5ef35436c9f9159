#ifndef FILEPLATFORM_H
#define FILEPLATFORM_H

#include <QString>
#include <QStringList>

// The few file-system calls of the installation that Qt does not offer:
// making data and renames durable, and replacing a file in one step.
namespace FilePlatform {

// Makes the renames, creations and removals in the folder durable (fsync of
// the folder; on Windows the file system's own journal does this and the
// call only checks that the folder exists).
bool flushDirectory(const QString& path);

// Makes the data of the files and the entries of the folders durable, all
// at once: on Linux one syncfs(2) for each file system that holds one of
// the folders (the folders of the files must be among them), which writes
// everything out in one go instead of one flush per file; on Windows
// FlushFileBuffers on each file.
bool flushChanges(const QStringList& files, const QStringList& folders);

// Moves the file `from` to `to`, never over anything that stands at `to`
// (renameat2 with RENAME_NOREPLACE; MoveFileEx without
// MOVEFILE_REPLACE_EXISTING on Windows). Where the two lie on different file
// systems the file is copied and the original removed.
bool moveFile(const QString& from, const QString& to);

// Whether the last failure of moveFile was something standing at `to`.
bool lastErrorWasExisting();

// Whether anything stands at `path`: a file, a folder or a link, also a
// link whose target is missing (lstat(2); GetFileAttributes on Windows).
bool entryExists(const QString& path);

// Replaces `to` by `from` in one step: afterwards `to` names what `from`
// named, whether or not `to` existed (rename(2); MoveFileEx with
// MOVEFILE_REPLACE_EXISTING on Windows).
bool replaceFile(const QString& from, const QString& to);

// The longest file name (one path component, in bytes of the file system's
// encoding) that the file system holding the folder accepts.
int maxNameLength(const QString& directory);

// The length of one file name as the file system counts it against
// maxNameLength: bytes of the encoded name (UTF-16 units on Windows).
int nameLength(const QString& name);

// The text of the last failed call of this namespace, for the log.
QString lastErrorText();

} // namespace FilePlatform

#endif
