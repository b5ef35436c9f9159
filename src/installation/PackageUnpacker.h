#ifndef PACKAGEUNPACKER_H
#define PACKAGEUNPACKER_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>

#include "PackageIndex.h"

// Unpacks a package's zip archive into a folder, entry by entry (several
// entries side by side on several cores), and checks
// every step: each write, flush and close, the entry's checksum, and that
// each unpacked file holds exactly the entry's uncompressed size. A full
// disk, a name the file system refuses or any other I/O error stops the
// unpacking with the entry and its cause.
//
// Entries are written under their names inside the archive; folders are
// made as needed, directory entries ("name/") become folders and symbolic
// link entries become links. The package must have passed
// PackageEntryCheck first: names are taken as they are.
class PackageUnpacker
{
public:
    // What every unpacked file is given, as it is written: rwxr-xr-x.
    static constexpr QFile::Permissions InstalledFilePermissions{
        QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
        | QFile::ExeOther};

    explicit PackageUnpacker(const PackageIndex& index);

    // The absolute paths of the unpacked entries in archive order (folders
    // with a trailing "/"), or false with failedEntry() and reason() set.
    // An archive without entries counts as a failure.
    bool unpack(const QString& destination, QStringList* paths);

    // Replaces each unpacked symbolic link that leads to a file by a copy of
    // that file, so that every file can then be moved into place on its own.
    // Links to folders stay. Run once the links have been checked.
    bool replaceLinksByCopies(const QStringList& paths);

    QString failedEntry() const;
    QString reason() const;

private:
    struct Worker {
        int failedIndex = -1;
        QString failedEntry;
        QString reason; // empty: no failure
    };

    bool fail(const QString& entry, const QString& reason);
    QVector<QVector<int>> shareOut(int workers) const;
    Worker unpackEntries(const QString& destination, const QVector<int>& share, std::atomic<bool>* stop) const;

    const PackageIndex& m_index;
    QString m_failedEntry;
    QString m_reason;
};

#endif
