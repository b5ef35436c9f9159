#ifndef UPDATESFOLDER_H
#define UPDATESFOLDER_H

#include <QDir>
#include <QString>
#include <QStringList>

// The folder "UPDATES" in the installation folder: the names of what it holds
// while an installation runs, and what an interrupted one may have left.
//
// - "<run stamp>/": the unpack folder of the installation with that stamp;
// - "<run stamp>.journal": what that installation changes, from before its
//   first change until its commit point; "<run stamp>.journal.*" while the
//   journal is being written;
// - "<run stamp>.committed": the journal of a committed installation whose
//   old files are still being deleted;
// - "install.lock": the file that one installation at a time locks.
//
// Entries that are none of these are left alone.
class UpdatesFolder
{
public:
    static const char* const Name;
    static const char* const LockFileName;

    explicit UpdatesFolder(const QDir& installDir);

    QString path() const;
    QDir dir() const;
    // Creates the folder unless it exists.
    bool create();

    QString lockPath() const;
    QString journalPath(const QString& runStamp) const;
    QString partialJournalPath(const QString& runStamp) const;
    QString committedPath(const QString& runStamp) const;
    QString unpackPath(const QString& runStamp) const;

    // What an interrupted installation may have left: the run stamps with a
    // journal, with a committed journal, unpack folders (real folders named
    // by a run stamp, never links), half-written journals, and a lock file.
    QStringList journalStamps() const;
    QStringList committedStamps() const;
    QStringList stampFolders() const;
    QStringList partialJournals() const;
    bool hasLeftovers() const;

    // Whether a run stamp's name is free: no unpack folder, journal or
    // committed journal of that name.
    bool stampIsFree(const QString& runStamp) const;

private:
    QStringList stampsWithSuffix(const QString& suffix) const;

    QDir m_dir;
};

#endif
