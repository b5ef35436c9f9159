#ifndef FOLDERHANDLE_H
#define FOLDERHANDLE_H

#include <QFile>
#include <QIODevice>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <QSharedPointer>

// A folder held open by a handle, and what is done inside it: every step
// goes through the handle, so a folder that is renamed, or exchanged for a
// symbolic link, while the step runs cannot send it elsewhere. Names inside
// are never followed through a link: a link found where a folder or a file
// is expected is refused (or, for removals, removed itself).
//
// Linux: a descriptor opened with O_DIRECTORY | O_NOFOLLOW, and the *at()
// calls relative to it. Windows: a handle opened with
// FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT; entries are
// opened below the folder's final path without following reparse points,
// renamed and deleted through their own handles.
//
// Copies share the handle; it is closed with the last of them. Every call
// that fails leaves the system's reason in errorString(), as QFile does: the
// caller names what failed.
class FolderHandle
{
public:
    enum class Kind { Missing, File, Folder, Link, Other };
    struct Entry {
        QString name;
        Kind kind = Kind::Other;
    };
    enum class Owner { Caller, Administrator, OtherUser };
    enum class LockResult {
        Locked,   // the lock is ours; the file stays open until unlockFile()
        Busy,     // another owner holds it
        Replaced, // the name came to stand for another file while we locked: try again
        NotAFile, // something we cannot lock stands at the name (a folder, a link, a pipe, another's file)
        Failed,
    };

    FolderHandle();

    // Opens a folder by its path. The path may pass through links (the
    // process's current folder may be reached through one).
    static FolderHandle open(const QString& path);

    bool isOpen() const;
    QString errorString() const { return m_error; }

    // Opens the folder at a relative path, each component without following
    // a link. With create, missing components are made first, writable by
    // their owner only whatever the umask.
    FolderHandle openFolder(const QString& relativePath, bool create);

    // Makes the folder `name` here, writable by its owner only whatever the
    // umask, and opens it; fails when anything stands at the name.
    FolderHandle createFolder(const QString& name);

    // Who owns the folder, and whether group or others may write into it.
    Owner owner() const;
    // Who owns an open file.
    static Owner ownerOf(QFile& file);
    bool othersMayWrite() const;
    // Takes the write permission of group and others away, on the handle.
    bool makePrivate();
    // Whether `name` in `parent` is (still) this folder.
    bool isEntryOf(const FolderHandle& parent, const QString& name) const;

    // What stands at a relative path, the last component not followed.
    Kind kind(const QString& relativePath) const;
    // Every entry but "." and "..", hidden ones included.
    bool list(QVector<Entry>* entries);

    // Creates a new file (never over anything, never through a link),
    // readable and writable by its owner only, and opens `file` on it.
    bool createFile(QFile& file, const QString& relativePath, QIODevice::OpenMode mode);
    // Opens an existing file for reading; a link in its place is refused.
    bool openFile(QFile& file, const QString& relativePath);
    // Opens a file for reading and writing, with create made when missing
    // (readable and writable by its owner only); a link, anything but a
    // file, or another user's file in its place is refused.
    bool openFileForUpdate(QFile& file, const QString& relativePath, bool create);
    // A path that opens the very file `file` has open, whatever its name
    // stands for by then (/proc/self/fd on Linux); where the system has
    // none, `name`, the file's path.
    static QString pathOfOpenFile(QFile& file, const QString& name);
    // Gives the open file the permissions (on its handle).
    bool setPermissions(QFile& file, QFile::Permissions permissions);
    // Flushes the open file's data to the disk.
    bool flushFile(QFile& file);

    // Moves `from` of this folder to `to` of the folder `target`: with
    // replace over whatever file stands there, without it never over
    // anything. Where the two lie on different file systems the file is
    // copied and the original removed.
    bool rename(const QString& from, FolderHandle& target, const QString& to, bool replace);
    // Whether the last failure of rename() was something standing at `to`.
    bool lastFailureWasExisting() const { return m_existing; }
    // Removes a file, a link (never what it leads to) or anything else that
    // is not a folder.
    bool remove(const QString& relativePath);
    // Removes an empty folder.
    bool removeFolder(const QString& relativePath);
    // Removes whatever stands at `name` with all it holds, walking by
    // handle and never following a link. True when nothing stands there
    // any more.
    bool removeTree(const QString& name);
    // Makes the creations, renames and removals in the folder durable.
    bool flush();

    // An exclusive lock on the folder itself, without waiting (flock(2) on
    // its descriptor); nothing that stands at any name can block it, and it
    // ends when the handle is closed or the process dies. Failed where the
    // system has no such lock (Windows, some network file systems).
    LockResult lockFolder();
    void unlockFolder();

    // The lock file `name`, opened (created when missing) for lockFile(). A
    // file of the administrator's that we may only read is opened all the
    // same (the lock needs no write permission); one of another user's is
    // NotAFile: whoever made it could hold its lock for ever.
    LockResult openLockFile(QFile& file, const QString& name);
    // An exclusive lock on the open lock file, without waiting; it ends
    // when unlockFile() closes the file or the process dies. Anything but
    // Locked closes the file.
    LockResult lockFile(QFile& file, const QString& name);
    // Removes the file while the lock is still ours, then lets go.
    void unlockFile(QFile& file, const QString& name);

private:
    struct Handle;
    explicit FolderHandle(const QSharedPointer<Handle>& handle);
#ifdef Q_OS_WIN
    bool openRegularFile(QFile& file, const QString& relativePath, bool forWriting, unsigned long disposition);
#endif
    bool fail(const QString& note = QString());
    bool failWith(int error, const QString& note = QString());

    QSharedPointer<Handle> m_handle;
    QString m_error;
    bool m_existing = false;
};

#endif
