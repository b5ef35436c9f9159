#ifndef FILEPLATFORM_H
#define FILEPLATFORM_H

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The few file-system calls of the installation, by path, that Qt does not
// offer: making many changes durable at once, a walk that reads each folder
// once, the file system's name limits and how it compares names. What is
// done inside a folder held by a handle is FolderHandle's.
namespace FilePlatform {

// Makes the data of the files and the entries of the folders durable, all
// at once: on Linux one syncfs(2) for each file system that holds one of
// the folders (the folders of the files must be among them), which writes
// everything out in one go instead of one flush per file; on Windows
// FlushFileBuffers on each file. Returns the system's reason when something
// could not be flushed, nothing when all is on the disk.
QString flushChanges(const QStringList& files, const QStringList& folders);

// Whether anything stands at `path`: a file, a folder or a link, also a
// link whose target is missing (lstat(2); GetFileAttributes on Windows).
bool entryExists(const QString& path);

// The names in a folder that are neither hidden nor symbolic links: those of
// regular files into `files`, of folders into `folders` (readdir(3) with the
// entry types it reports, so no entry is looked at on its own; FindFirstFileEx
// on Windows). False when the folder cannot be read, and when it is itself a
// link (a folder exchanged for one while a walk goes is not followed).
bool listFolder(const QString& folder, QStringList* files, QStringList* folders);

// The longest file name (one path component, in bytes of the file system's
// encoding) that the file system holding the folder accepts.
int maxNameLength(const QString& directory);

// The length of one file name as the file system counts it against
// maxNameLength: bytes of the encoded name (UTF-16 units on Windows).
int nameLength(const QString& name);

// What tells a file from every other one on the machine (device and inode
// on Linux; volume and file index on Windows), links followed; empty when
// nothing is there.
QString fileIdentity(const QString& path);

// The system's text for one of its error numbers (errno on Linux, the
// codes of GetLastError on Windows).
QString errorText(int code);

// Whether two names in one folder name the same entry, as the file system
// compares them: exactly on Linux, without regard to case on Windows.
bool namesEqual(const QString& a, const QString& b);

} // namespace FilePlatform

#endif
