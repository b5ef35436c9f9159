#ifndef UPDATESFOLDER_H
#define UPDATESFOLDER_H

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include "FolderHandle.h"
#include "InstallPathRules.h"

// The folder "UPDATES" in the installation folder, the module's own: held by
// a handle from the moment it is opened, so that everything done in it goes
// to the folder that was checked, whatever is renamed or exchanged at its
// path meanwhile. The module makes it, and everything in it, writable by
// its owner only.
//
// What it holds while an installation runs, and what an interrupted one may
// have left:
// - "<run stamp>/": the unpack folder of the installation with that stamp;
// - "<run stamp>.journal": what that installation changes, from before its
//   first change until its commit point; "<run stamp>.journal.*" while the
//   journal is being written;
// - "<run stamp>.committed": the journal of a committed installation whose
//   old files are still being deleted;
// - "<name>.rejected": a journal that could not be used, kept for a person
//   to look at (the newest few);
// - "install.lock": the file that one installation at a time locks.
//
// Entries that are none of these are left alone.
class UpdatesFolder
{
public:
    static const char* const Name;
    static const char* const LockFileName;
    static const int KeptRejected = 3;

    enum class Opened {
        Ready,        // there, and held
        Missing,      // not there (and not to be created)
        CannotCreate, // not there and cannot be made
        Refused,      // a link, not a folder, another user's, or open to others' writes
    };

    // The folder in the installation folder held by installFolder, whose
    // path is installPath.
    UpdatesFolder(const FolderHandle& installFolder, const QString& installPath);
    ~UpdatesFolder();
    UpdatesFolder(const UpdatesFolder&) = delete;
    UpdatesFolder& operator=(const UpdatesFolder&) = delete;

    // Opens the folder (and creates it when missing, with create), once per
    // object: it is held from then on. It is checked before anything in it
    // is read: a folder, owned by the caller or by the administrator, that
    // group and others may not write into. One of the caller's that others
    // may write into is made private first (NOTICE). A refusal is logged
    // (WARN, once), saying why and what to change; errorString() says it
    // too.
    Opened open(bool create);
    bool isOpen() const { return m_folder.isOpen(); }
    FolderHandle& folder() { return m_folder; }
    // Removes the folder again when this object made it, no installation
    // has locked it since, and it is empty.
    void removeIfMadeAndEmpty();

    QString path() const { return m_path; }
    QString pathOf(const QString& name) const { return m_path + QLatin1Char('/') + name; }

    static QString journalName(const QString& runStamp);
    static QString partialJournalName(const QString& runStamp);
    static QString committedName(const QString& runStamp);

    // Takes the lock, waiting up to timeoutMs for another installation to
    // end: the lock of the folder itself, which nothing standing at a name
    // can block, then that of the lock file "install.lock", which
    // installers of earlier versions take (and which alone serves where
    // folders cannot be locked). Whatever stands at the lock file's name
    // that cannot be locked (a folder, a link, a pipe, a file we may not
    // open) is removed; what cannot even be removed is passed over while
    // the folder's own lock is held. A lock whose owner has died is free at
    // once, whatever its file holds.
    bool lock(int timeoutMs);
    bool lockWasBusy() const { return m_lockBusy; }
    void unlock();

    // What an interrupted installation may have left: the run stamps with a
    // journal, with a committed journal, unpack folders (real folders named
    // by a run stamp, never links), and half-written journals.
    QStringList journalStamps();
    QStringList committedStamps();
    QStringList stampFolders();
    QStringList partialJournals();
    // Any of these, or a lock file.
    bool hasLeftovers();
    // Any of these but a lock file.
    bool hasInterruptedInstallations();

    // Whether a run stamp's name is free: no unpack folder, journal or
    // committed journal of that name.
    bool stampIsFree(const QString& runStamp) const;

    // Moves a leftover that cannot be used aside as "<name>.rejected", and
    // removes the older ones beyond the newest few.
    bool reject(const QString& name);

    QString errorString() const { return m_error; }

private:
    Opened check();
    enum class Wait { Done, Again, Failed };
    Wait lockFolder();
    Wait lockFile();
    QVector<FolderHandle::Entry> entries();
    QStringList stampsWithSuffix(const QString& suffix);
    void removeOldRejected();

    QString m_path;
    FolderHandle m_installFolder;
    FolderHandle m_folder;
    QFile m_lockFile;
    bool m_folderLocked = false;
    bool m_lockBusy = false;
    bool m_madeHere = false;
    bool m_refused = false;
    QString m_error;
};

#endif
