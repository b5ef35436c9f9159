#ifndef PARTIALDOWNLOADFILES_H
#define PARTIALDOWNLOADFILES_H

#include <QString>
#include <QtGlobal>

// Every file-system call of a kept partial download, and nothing else: the
// folder that holds it and its two files. Files are never opened through a
// symbolic link, are made readable and writable by their owner only, and
// must be regular files; the folder must be a real folder of the caller's
// (or the administrator's) that nobody else can write into. A handle is a
// C runtime file descriptor on both systems, so that a QFile can work on it.
namespace PartialDownloadFiles {

using Handle = qintptr;
const Handle NoHandle = -1;

enum class FolderState {
    Missing,
    Usable,
    Refused, // a link, not a folder, another user's, or writable by others
};
FolderState folderState(const QString& path);
// Makes the folder, for its owner only.
bool createFolder(const QString& path);
// Removes the folder if it is empty; false otherwise.
bool removeEmptyFolder(const QString& path);

enum class Open {
    Read,   // an existing file
    Create, // created when it does not exist, for reading and writing
    Update, // an existing file, for reading and writing
};
Handle openFile(const QString& path, Open how);
void closeFile(Handle handle);
// An exclusive lock on the open file, without waiting: false when another
// process holds it. It ends with the handle.
bool lockFile(Handle handle);
// -1 on failure.
qint64 fileSize(Handle handle);
// Bytes read (0 at the end), -1 on failure.
qint64 readFile(Handle handle, char* data, qint64 size);
bool writeFile(Handle handle, const char* data, qint64 size);
// Empties the open file.
bool truncateFile(Handle handle);
// Removes the file; true also when there was none.
bool removeFile(const QString& path);

// The reason of the last failure, for the log.
QString lastErrorText();

} // namespace PartialDownloadFiles

#endif
