#ifndef FILEPLATFORM_H
#define FILEPLATFORM_H

#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The few file-system calls of the installation that Qt does not offer:
// making data and renames durable, replacing a file in one step, a lock that
// the operating system drops with its owner, and a look at who owns a folder.
namespace FilePlatform {

// An exclusive lock on a file, held by the operating system for the handle
// (flock(2) on Linux, LockFileEx on Windows): it ends when its owner closes
// the handle or dies, whatever the file holds, so a crash or a power cut
// can never leave a lock behind. A lock file is only ever opened and locked,
// never read or trusted.
enum class LockOutcome {
    Locked,   // the lock is ours
    Busy,     // another owner holds it
    Replaced, // the file was removed or replaced while we waited for it: open it anew
    Failed,   // see lastErrorText()
};
const qintptr NoLockHandle = -1;
// Opens the lock file, creating it when missing; never through a symbolic
// link, and something else in its place (a folder, a link) is a failure.
qintptr openLockFile(const QString& path);
// One attempt to lock the open file, without waiting. On Linux a Locked
// handle is also checked to be the file that the path names now, since the
// previous owner removes the file as it lets go.
LockOutcome lockFile(qintptr handle, const QString& path);
// Removes the file (only while the lock is ours), then closes the handle,
// which ends the lock. With remove false it only closes the handle.
void releaseLockFile(qintptr handle, const QString& path, bool remove);

// Whether a folder can be trusted with the installation's own files.
enum class FolderState {
    Missing,
    Usable,     // a folder, owned by the caller or by the administrator
    Link,       // a symbolic link (or another reparse point), whatever it leads to
    NotAFolder, // a file or something else
    Foreign,    // a folder owned by another user (Linux)
    Unreadable, // it cannot even be looked at
};
FolderState folderState(const QString& path);

// Flushes the data of the open file to the disk (fdatasync(2);
// FlushFileBuffers on Windows).
bool flushFile(QFile& file);

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

// The names in a folder that are neither hidden nor symbolic links: those of
// regular files into `files`, of folders into `folders` (readdir(3) with the
// entry types it reports, so no entry is looked at on its own; FindFirstFileEx
// on Windows). False when the folder cannot be read.
bool listFolder(const QString& folder, QStringList* files, QStringList* folders);

// What stands at `path`, links not followed.
enum class EntryKind { Missing, File, Link, Folder, Other };
EntryKind entryKind(const QString& path);

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
