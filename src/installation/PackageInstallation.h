#ifndef PACKAGEINSTALLATION_H
#define PACKAGEINSTALLATION_H

#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <memory>

#include "FolderHandle.h"
#include "InstallationTransaction.h"
#include "PackageEntryCheck.h"
#include "PackageIndex.h"
#include "UpdatesFolder.h"

class BackgroundWork;
class InstallationProgress;
class PackageUnpacker;

// One call's installation of a package into the installation folder, and
// the recovery of what interrupted installations left there. It takes the
// installation folder once, when it is made (the process's current folder),
// holds that folder and "UPDATES" by their handles for the whole call, and
// owns what the installation is made of: the transaction, the package's
// entry list, the checks of room and entries, and the unpacking. The
// controller's steps drive it and log what became of each.
//
//     PackageInstallation installation(QDir::current());
//     installation.setProgress(&progress);
//     installation.recoverLeftovers();           // first in every call
//     installation.readPackage(path)             // limits, room: before anything is written
//     installation.openUpdatesFolder() == Ready, installation.lock(wait)
//     installation.recover(), installation.createUnpackFolder()
//     installation.checkEntries() == Accepted, installation.unpack(&paths)
//     transaction().begin(files), moveAside(path), moveIn(path), step(n) ...
//     installation.flush(), transaction().commit()
//     installation.beginCleanUp(), findOldFiles(dir), endCleanUp(found)
//     installation.finish()
//
// What is not committed when it goes (or at release()) is rolled back.
//
// The long steps (unpacking, the flush, the clean-up) run on threads of
// their own while the calling thread keeps its events going, and every step
// reports to the progress and stops, before the commit point, when the host
// asks for it (wasCancelled()).
class PackageInstallation
{
public:
    enum class FolderCheck { Ready, CannotCreate, Refused };
    // What recoverLeftovers() found.
    enum class Recovery {
        NothingLeft,   // no "UPDATES", or nothing in it to recover
        Recovered,     // rolled back or finished what was left
        LeftToAnother, // another installation holds the folder, and recovers it itself
        CannotLock,    // the lock cannot be taken: see errorString()
    };

    explicit PackageInstallation(const QDir& installDir);
    ~PackageInstallation();
    PackageInstallation(const PackageInstallation&) = delete;
    PackageInstallation& operator=(const PackageInstallation&) = delete;

    QDir installDir() const { return m_installDir; }
    UpdatesFolder& updatesFolder() { return m_updates; }
    InstallationTransaction& transaction() { return m_transaction; }
    // The progress to report to and ask for a cancel; none, without one.
    void setProgress(InstallationProgress* progress);

    // At the start of a call, whatever becomes of it: what interrupted
    // installations left is rolled back (or finished), unless another
    // installation holds the folder. Creates nothing.
    Recovery recoverLeftovers();

    // The package's entry list, its limits and the room it needs, before
    // anything is written: false, with the reason, when it is refused. A
    // package that cannot be read passes, for checkEntries() to tell.
    bool readPackage(const QString& packagePath);
    // "UPDATES", made when missing.
    FolderCheck openUpdatesFolder();
    // One installation at a time: see InstallationTransaction::lock().
    bool lock(int timeoutMs);
    bool lockWasBusy() const { return m_transaction.lockWasBusy(); }
    // Under the lock: what interrupted installations left, once per call
    // (again only when something was left since recoverLeftovers()).
    void recover();
    bool createUnpackFolder();
    // The unpack folder, or before createUnpackFolder() the one it would be.
    QString unpackPath() const;

    PackageEntryCheck::Outcome checkEntries();
    const PackageEntryCheck& entryCheck() const { return m_entryCheck; }
    // Unpacks the checked package into the unpack folder: the paths of the
    // unpacked entries (see PackageUnpacker). False with failedEntry() and
    // errorString(), or when the host asked to stop.
    bool unpack(QStringList* paths);
    QString failedEntry() const { return m_failedEntry; }
    bool removeUnpackFolder();

    // The phase "install" over this many files.
    void beginInstalling(qint64 files);
    // Between two steps of moving files: done files moved in, the host's
    // events, its cancel. False when the host asked to stop.
    bool step(qint64 done);
    // The transaction's flush, on a thread of its own; false, with
    // errorString(), when it fails, and when the host asked to stop
    // before the commit point.
    bool flush();
    // The installation stands: the phase "install" is over. A cancel that
    // comes now is too late, and is said so once (cancelCameTooLate()).
    void endInstalling();
    bool cancelCameTooLate();

    // The clean-up: the old files this installation moved aside are
    // deleted on a thread of their own while findOldFiles() walks the
    // folder (every old file below it, and those of this installation
    // whether met or deleted meanwhile); endCleanUp() deletes what was
    // found but the files this installation put in place and the old files
    // of installations whose roll-back is pending.
    void beginCleanUp();
    QStringList findOldFiles(const QDir& directory);
    void endCleanUp(const QStringList& found);
    // The committed journal goes, the lock is let go.
    void finish();
    // Rolls back what was not committed, and lets go of the folder.
    void release();

    // The host's cancel stopped the installation before its commit point.
    bool wasCancelled() const { return m_cancelled; }
    // An installation locked the folder in this call.
    bool wasUsed() const { return m_used; }
    QString errorString() const { return m_error; }

private:
    bool stopRequested();

    QDir m_installDir;
    FolderHandle m_installFolder;
    UpdatesFolder m_updates;
    InstallationTransaction m_transaction;
    std::unique_ptr<PackageIndex> m_index;
    PackageEntryCheck m_entryCheck;
    std::unique_ptr<PackageUnpacker> m_unpacker;
    std::unique_ptr<BackgroundWork> m_ownRemoval;
    QStringList m_ownOldFiles; // the files this installation moved aside, by their old-file names
    InstallationProgress* m_progress;
    QElapsedTimer m_sinceEvents;
    bool m_indexRead = false;
    bool m_recovered = false;
    bool m_used = false;
    bool m_cancelled = false;
    bool m_committedNoticeDue = false;
    QString m_failedEntry;
    QString m_error;
};

#endif
