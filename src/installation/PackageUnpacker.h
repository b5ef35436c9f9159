#ifndef PACKAGEUNPACKER_H
#define PACKAGEUNPACKER_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <functional>

#include "FolderHandle.h"
#include "PackageIndex.h"

class PackageEntryCheck;

// Unpacks a package's zip archive into a folder, entry by entry (several
// entries side by side on several cores), and checks
// every step: each write, flush and close, the entry's checksum, and that
// each unpacked file holds exactly the entry's uncompressed size. A full
// disk, a name the file system refuses or any other I/O error stops the
// unpacking with the entry and its cause.
//
// Entries are written under their names inside the archive, through the
// handle of the destination folder and of each folder below it, never
// through a link; folders are made as needed (writable by their owner only)
// and directory entries ("name/") become folders. The package's symbolic
// links are made as PackageEntryCheck planned them: a link to a file
// becomes a copy of it, a link to a folder nothing. The package must have
// passed that check first: names are taken as they are.
class PackageUnpacker
{
public:
    // What every unpacked file is given, as it is written: rwxr-xr-x.
    static constexpr QFile::Permissions InstalledFilePermissions{
        QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
        | QFile::ExeOther};

    // check: the accepted check of the same package.
    PackageUnpacker(const PackageIndex& index, const PackageEntryCheck& check);

    // Unpacks into the folder held by `destination`, whose path is
    // destinationPath. The paths of the unpacked entries are that path and
    // the entry's name, in archive order, folders (and links to folders)
    // with a trailing "/"; or false with failedEntry() and errorString() set.
    // An archive without entries counts as a failure.
    // With a tick, the unpacking runs on threads of its own and the calling
    // thread keeps its events going, calling the tick meanwhile
    // (BackgroundWork); stop() from there ends it early, as a failure.
    bool unpack(const FolderHandle& destination, const QString& destinationPath, QStringList* paths,
                const std::function<void()>& tick = std::function<void()>());
    void stop() { m_stop.store(true); }
    // Bytes of the entries' data written so far, and in all.
    qint64 unpackedBytes() const { return m_unpackedBytes.load(); }
    qint64 totalBytes() const;

    QString failedEntry() const;
    QString errorString() const;

private:
    struct Worker {
        int failedIndex = -1;
        QString failedEntry;
        QString reason; // empty: no failure
    };

    bool fail(const QString& entry, const QString& reason);
    QVector<QVector<int>> shareOut(int workers) const;
    Worker unpackEntries(const FolderHandle& destination, const QVector<int>& share);
    bool copyLinkedFiles(const FolderHandle& destination);

    const PackageIndex& m_index;
    const PackageEntryCheck& m_check;
    QStringList m_names; // each entry's name without "." and empty components
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_unpackedBytes{0};
    QString m_failedEntry;
    QString m_reason;
};

#endif
