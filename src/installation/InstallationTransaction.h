#ifndef INSTALLATIONTRANSACTION_H
#define INSTALLATIONTRANSACTION_H

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <functional>

#include "FilePlatform.h"
#include "FolderHandle.h"
#include "InstallPathRules.h"
#include "InstallationJournal.h"
#include "UpdatesFolder.h"

// One installation into an installation folder, all or nothing, in the
// manner of QSaveFile: nothing it changes stands until commit(), and an
// object that goes without a commit rolls back what it changed.
//
// It owns the folder's lock (one installation at a time, across processes
// and threads), the run stamp, the journal on the disk and the list of files
// it put in place. The old name of a replaced file, "<path>.<run stamp>.old",
// comes from InstallPathRules.
//
//     InstallationTransaction transaction(installDir, installFolder, updates);
//     (updates opened)  transaction.lock(wait),
//     transaction.recover(), transaction.createUnpackFolder(),
//     (unpack into transaction.unpackFolder())
//     transaction.begin(paths)          // the journal is on the disk
//     transaction.moveAside(path) ...   // existing files to their old names
//     transaction.moveIn(source, path) ...
//     transaction.flush()               // everything new is on the disk
//     transaction.commit()              // the commit point
//     (delete old files)  transaction.finish()
//
// The installation folder and "UPDATES" are held by handles from the moment
// they are opened, and every step in them goes through those handles (see
// FolderHandle): a folder renamed or exchanged for a link meanwhile changes
// nothing outside them.
//
// The roll-back is one function, the playback of a journal: the same for an
// installation that fails in this process and for one that a killed process
// or a power cut interrupted, which the next installation's recover() finds.
//
// Paths are relative to the installation folder, which is the current
// folder of the process.
class InstallationTransaction
{
public:
    // One path of a roll-back, as it went.
    struct RollBackStep {
        enum Action {
            Untouched, // nothing to put back or to remove
            Restored,  // the old file went back
            Removed,   // the new file went
            Failed,    // either could not be done; see error
        };
        QString path;
        QString oldName;
        bool oldFileExisted = false;
        Action action = Untouched;
        QString error;
    };
    using RollBackReport = std::function<void(const RollBackStep&)>;

    // installFolder: the handle of installDir; updates: its "UPDATES",
    // opened. Both outlive the transaction.
    InstallationTransaction(const QDir& installDir, FolderHandle& installFolder, UpdatesFolder& updates);
    ~InstallationTransaction();
    InstallationTransaction(const InstallationTransaction&) = delete;
    InstallationTransaction& operator=(const InstallationTransaction&) = delete;

    UpdatesFolder& updatesFolder() { return m_updates; }

    // Takes the folder's lock, waiting up to timeoutMs for another
    // installation to end. A lock whose owner has died is free at once,
    // whatever its file holds. Held until unlock() or the object goes.
    bool lock(int timeoutMs);
    // Why lock() failed: another installation holds the lock (or the lock
    // file could not be opened: no permission, disk full).
    bool lockWasBusy() const { return m_updates.lockWasBusy(); }
    void unlock();
    // Rolls back what was not committed (as the destructor does), then lets
    // go of the lock.
    void release();

    // Under the lock: rolls back every installation that left a journal,
    // finishes the clean-up of committed ones, and removes unpack folders
    // and half-written journals of installations that never began.
    void recover();

    // Chooses the run stamp (the current time in milliseconds; the next free
    // one when a name of it is taken) and makes the unpack folder.
    bool createUnpackFolder();
    QString runStamp() const { return m_runStamp; }
    QString unpackPath() const { return m_updates.pathOf(m_runStamp); }
    const FolderHandle& unpackFolder() const { return m_unpackFolder; }
    // Removes the unpack folder with all it holds.
    bool removeUnpackFolder();

    // The name the file at the path is moved aside to by this installation.
    QString oldName(const QString& path) const { return InstallPathRules::oldName(path, m_runStamp); }

    // Writes the journal for installing these files (and the folders they
    // need that are missing). Nothing may be changed before it succeeded.
    bool begin(const QStringList& relativePaths);
    // Whether a file (or a link to one) stood at the path when the
    // transaction began: what moveAside() moves.
    bool holdsFile(const QString& path) const;
    // Renames the file at the path to its old name; never over anything.
    bool moveAside(const QString& path);
    // Moves the new file at `source` in the unpack folder into place at the
    // path; never over anything.
    bool moveIn(const QString& source, const QString& path);
    // Whether the last failure of moveIn() was something in the way.
    bool lastMoveFoundSomething() const { return m_inTheWay; }
    // The paths moveIn() put in place, and those moveAside() moved aside.
    QStringList installedPaths() const { return m_installedPaths; }
    QStringList movedAsidePaths() const { return m_movedAsidePaths; }
    // Makes every new file and every changed folder durable.
    bool flush();
    // The commit point: from here on the new files stay, whatever happens.
    bool commit();
    bool isCommitted() const { return m_committed; }
    // After the old files were deleted: the committed journal goes.
    void finish();

    // Rolls back what the transaction changed: plays its journal back.
    // False when something could not be put back; the journal then stays,
    // for the next installation to try again.
    bool rollBack(const RollBackReport& report = RollBackReport());

    // Run stamps of other installations whose roll-back is still pending:
    // their old files must stay.
    QStringList pendingStamps();

    // Why the last step failed, for the log.
    QString errorString() const { return m_error; }

private:
    bool playBack(const QString& runStamp, const InstallationJournal& journal, const RollBackReport& report,
                  int* restored, bool removeJournal);
    void rollBackInterrupted(const QString& runStamp);
    void finishInterruptedCleanUp(const QString& runStamp);
    QString flushChanged(const QStringList& files, const QStringList& changedEntries);
    QString absolute(const QString& path) const { return m_installDir.absoluteFilePath(path); }

    QDir m_installDir;
    FolderHandle& m_installFolder;
    UpdatesFolder& m_updates;
    FolderHandle m_unpackFolder;
    bool m_inTheWay = false;
    QString m_runStamp;
    InstallationJournal m_journal;
    QStringList m_installedPaths;
    QStringList m_movedAsidePaths;
    QHash<QString, FolderHandle::Kind> m_foundKinds; // what begin() found at each path
    bool m_begun = false;
    bool m_committed = false;
    bool m_rolledBack = false;
    QString m_error;
};

#endif
