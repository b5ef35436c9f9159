#ifndef UPDATESFOLDER_H
#define UPDATESFOLDER_H

#include <QDir>
#include <QLockFile>
#include <QString>
#include <QStringList>

#include <memory>

// The folder "UPDATES" in the installation folder. It holds, while an
// installation runs, the unpack folder named by its run stamp, the journal
// "<run stamp>.journal" that lets an interrupted installation be rolled
// back, and the lock file that lets one installation at a time work in the
// installation folder, across processes and threads.
class UpdatesFolder
{
public:
    static const char* const Name;
    static const char* const LockFileName;

    explicit UpdatesFolder(const QDir& installDir);
    ~UpdatesFolder();

    QString path() const;
    QDir dir() const;
    bool exists() const;
    // Creates the folder unless it exists.
    bool create();

    // Takes the lock, waiting up to timeoutMs for another installation to
    // end. A lock whose owner has died is taken over at once; a live owner
    // is never considered stale, however long it works. It is held until the
    // object goes.
    bool lock(int timeoutMs);
    // Why lock() failed: another installation held it, or the lock file
    // could not be made (no permission, disk full).
    bool lockWasBusy() const;

    // What an interrupted installation may have left: the run stamps with a
    // journal, unpack folders (named by a run stamp), half-written journals,
    // and a lock file.
    QStringList journalStamps() const;
    QStringList stampFolders() const;
    QStringList partialJournals() const;
    bool hasLeftovers() const;

    QString journalPath(const QString& runStamp) const;

private:
    QDir m_dir;
    std::unique_ptr<QLockFile> m_lock;
};

#endif
