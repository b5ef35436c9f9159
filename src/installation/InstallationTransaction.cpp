#include "InstallationTransaction.h"

#include "FileListTools.h"
#include "FilePlatform.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

namespace {

// Pauses between two looks at a lock another installation holds: short at
// first (an installation's clean-up may be ending), then 50 ms.
const int FirstLockPauseMs = 1;
const int LongestLockPauseMs = 50;

QString folderRefusal(FilePlatform::FolderState state)
{
    switch (state) {
    case FilePlatform::FolderState::Link:
        return QStringLiteral("it is a symbolic link");
    case FilePlatform::FolderState::NotAFolder:
        return QStringLiteral("it is not a folder");
    case FilePlatform::FolderState::Foreign:
        return QStringLiteral("it belongs to another user");
    default:
        return QStringLiteral("it cannot be looked at (%1)").arg(FilePlatform::lastErrorText());
    }
}

} // namespace

InstallationTransaction::InstallationTransaction(const QDir& installDir)
    : m_installDir(installDir.absolutePath())
    , m_updates(m_installDir)
    , m_lockHandle(FilePlatform::NoLockHandle)
{
}

InstallationTransaction::~InstallationTransaction()
{
    // Whatever ended the installation before its commit (a failure that
    // returned early, an exception), nothing of it stays.
    if (m_begun && !m_committed && !m_rolledBack) {
        try {
            rollBack();
        } catch (...) {
            // The journal stays: the next installation rolls it back.
        }
    }
    unlock();
}

QString InstallationTransaction::oldName(const QString& path, const QString& runStamp)
{
    return path + QLatin1Char('.') + runStamp + QLatin1String(OldFileSuffix);
}

int InstallationTransaction::oldNameReserve()
{
    return oldName(QString(), QString::number(QDateTime::currentMSecsSinceEpoch())).size();
}

InstallationTransaction::FolderCheck InstallationTransaction::openUpdatesFolder(bool create)
{
    FilePlatform::FolderState state = FilePlatform::folderState(m_updates.path());
    if (state == FilePlatform::FolderState::Missing) {
        if (!create)
            return FolderCheck::Missing;
        if (!m_updates.create())
            return FolderCheck::CannotCreate;
        state = FilePlatform::folderState(m_updates.path());
    }
    if (state == FilePlatform::FolderState::Usable)
        return FolderCheck::Ready;
    LOG_UPDATER(WARN) << "InstallationTransaction::openUpdatesFolder :: " << m_updates.path()
                      << " is refused: " << folderRefusal(state)
                      << ". Nothing is read from it or written through it.";
    return FolderCheck::Refused;
}

bool InstallationTransaction::lock(int timeoutMs)
{
    if (m_lockHandle != FilePlatform::NoLockHandle)
        return true;
    m_lockBusy = false;
    const QString path = m_updates.lockPath();
    QElapsedTimer clock;
    clock.start();
    int pauseMs = FirstLockPauseMs;
    for (;;) {
        const qintptr handle = FilePlatform::openLockFile(path);
        if (handle == FilePlatform::NoLockHandle) {
            m_error = FilePlatform::lastErrorText();
            return false;
        }
        UPDATER_FAULT_POINT("lock.created");
        const FilePlatform::LockOutcome outcome = FilePlatform::lockFile(handle, path);
        if (outcome == FilePlatform::LockOutcome::Locked) {
            m_lockHandle = handle;
            return true;
        }
        FilePlatform::releaseLockFile(handle, path, false);
        if (outcome == FilePlatform::LockOutcome::Failed) {
            m_error = FilePlatform::lastErrorText();
            return false;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            m_lockBusy = true;
            return false;
        }
        if (outcome == FilePlatform::LockOutcome::Busy) {
            QThread::msleep(ulong(qMin<qint64>(pauseMs, left)));
            pauseMs = qMin(pauseMs * 2, LongestLockPauseMs);
        }
    }
}

void InstallationTransaction::unlock()
{
    // The file goes while the lock is still ours: an installer that opened
    // it meanwhile finds, once it has the lock, that the path names another
    // file or none, and starts again.
    FilePlatform::releaseLockFile(m_lockHandle, m_updates.lockPath(), true);
    m_lockHandle = FilePlatform::NoLockHandle;
}

void InstallationTransaction::recover()
{
    const QStringList journals = m_updates.journalStamps();
    for (const QString& stamp : journals)
        rollBackInterrupted(stamp);

    const QStringList pending = m_updates.journalStamps();
    if (pending.isEmpty()) {
        for (const QString& stamp : m_updates.committedStamps())
            finishInterruptedCleanUp(stamp);
    }

    const QSet<QString> keep(pending.begin(), pending.end());
    for (const QString& stamp : m_updates.stampFolders()) {
        if (keep.contains(stamp))
            continue;
        removeUnpackFolder(stamp);
        if (FilePlatform::entryExists(m_updates.unpackPath(stamp)))
            LOG_UPDATER(WARN) << "InstallationTransaction::recover :: Unpack folder " << stamp
                              << " of an interrupted installation cannot be removed.";
        else
            LOG_UPDATER(NOTICE) << "InstallationTransaction::recover :: Unpack folder " << stamp
                                << " of an interrupted installation removed.";
    }
    // Written only partly when the process or the power went: nothing was
    // changed on the strength of them.
    for (const QString& name : m_updates.partialJournals())
        QFile::remove(m_updates.dir().absoluteFilePath(name));
}

// A journal found on the disk. A damaged one still names its run stamp: the
// files moved aside under it can be found by their names and put back.
void InstallationTransaction::rollBackInterrupted(const QString& runStamp)
{
    const QString journalPath = m_updates.journalPath(runStamp);
    InstallationJournal journal;
    QString error;
    const InstallationJournal::ReadOutcome read = journal.read(journalPath, m_installDir, &error);
    if (read == InstallationJournal::Untrusted) {
        LOG_UPDATER(WARN) << "InstallationTransaction::recover :: The journal " << journalPath << " is not played back ("
                          << error << "); it is left as it is.";
        return;
    }
    if (read == InstallationJournal::Unreadable) {
        const QString suffix = oldName(QString(), runStamp);
        LOG_UPDATER(WARN) << "InstallationTransaction::recover :: The journal " << journalPath << " cannot be read ("
                          << error << "); restoring the files named *" << suffix << ".";
        QVector<InstallationJournal::Entry> entries;
        const QStringList oldFiles = findFilesRecursive(m_installDir, {QLatin1Char('*') + suffix});
        for (const QString& oldFile : oldFiles)
            entries.append({m_installDir.relativeFilePath(oldFile.chopped(suffix.size())), true});
        journal = InstallationJournal(runStamp, entries, QStringList());
    }

    int restored = 0;
    if (playBack(runStamp, journal, RollBackReport(), &restored))
        LOG_UPDATER(NOTICE) << "InstallationTransaction::recover :: Interrupted installation " << runStamp
                            << " rolled back: " << restored << " files went back.";
    else
        LOG_UPDATER(WARN) << "InstallationTransaction::recover :: Interrupted installation " << runStamp
                          << " could not be rolled back completely; " << restored
                          << " files went back. The next update call tries again.";
}

// A committed installation whose clean-up was interrupted: its own old files
// go (those of other installations are left to the next clean-up), then its
// journal.
void InstallationTransaction::finishInterruptedCleanUp(const QString& runStamp)
{
    const QString committedPath = m_updates.committedPath(runStamp);
    InstallationJournal journal;
    QString error;
    if (journal.read(committedPath, m_installDir, &error) != InstallationJournal::Read) {
        LOG_UPDATER(WARN) << "InstallationTransaction::recover :: The journal " << committedPath
                          << " of a committed installation is not used (" << error << "); it is removed.";
        QFile::remove(committedPath);
        return;
    }
    QStringList oldFiles;
    for (const InstallationJournal::Entry& entry : journal.entries()) {
        if (entry.existed)
            oldFiles.append(absolute(oldName(entry.path, runStamp)));
    }
    removeFiles(oldFiles);
    UPDATER_FAULT_POINT("recovery.cleaned");
    removeUnpackFolder(runStamp);
    QFile::remove(committedPath);
    LOG_UPDATER(NOTICE) << "InstallationTransaction::recover :: The clean-up of installation " << runStamp
                        << " finished: its old files were deleted.";
}

void InstallationTransaction::removeUnpackFolder(const QString& runStamp)
{
    const QString path = m_updates.unpackPath(runStamp);
    const QFileInfo info(path);
    // A link in its place is removed itself, never what it leads to.
    if (info.isSymLink() || !info.isDir())
        QFile::remove(path);
    else
        QDir(path).removeRecursively();
}

bool InstallationTransaction::createUnpackFolder()
{
    qint64 stamp = QDateTime::currentMSecsSinceEpoch();
    while (!m_updates.stampIsFree(QString::number(stamp)))
        ++stamp;
    m_runStamp = QString::number(stamp);
    return m_updates.dir().mkdir(m_runStamp);
}

bool InstallationTransaction::begin(const QStringList& relativePaths)
{
    QVector<InstallationJournal::Entry> entries;
    entries.reserve(relativePaths.size());
    m_foundKinds.clear();
    m_foundKinds.reserve(relativePaths.size());
    for (const QString& path : relativePaths) {
        const FilePlatform::EntryKind kind = FilePlatform::entryKind(absolute(path));
        entries.append({path, kind != FilePlatform::EntryKind::Missing});
        m_foundKinds.insert(path, kind);
    }
    // Folders that the new files need and that are not there yet; a roll-back
    // takes them away again.
    m_journal = InstallationJournal(m_runStamp, entries, missingParentDirectories(relativePaths));
    m_installedPaths.clear();
    m_movedAsidePaths.clear();
    if (!m_journal.write(m_updates.journalPath(m_runStamp), m_updates.partialJournalPath(m_runStamp), &m_error))
        return false;
    m_begun = true;
    return true;
}

bool InstallationTransaction::holdsFile(const QString& path) const
{
    switch (m_foundKinds.value(path, FilePlatform::EntryKind::Missing)) {
    case FilePlatform::EntryKind::File:
        return true;
    case FilePlatform::EntryKind::Link:
        return QFileInfo(absolute(path)).isFile();
    default:
        return false;
    }
}

bool InstallationTransaction::moveAside(const QString& path)
{
    if (FilePlatform::moveFile(absolute(path), absolute(oldName(path)))) {
        m_movedAsidePaths.append(path);
        return true;
    }
    m_error = FilePlatform::lastErrorText();
    return false;
}

bool InstallationTransaction::moveIn(const QString& source, const QString& path)
{
    if (!FilePlatform::moveFile(source, absolute(path))) {
        m_error = FilePlatform::lastErrorText();
        return false;
    }
    m_installedPaths.append(path);
    return true;
}

bool InstallationTransaction::flush()
{
    QStringList files;
    files.reserve(m_installedPaths.size());
    for (const QString& path : qAsConst(m_installedPaths))
        files.append(absolute(path));
    if (flushChanged(files, m_journal.createdDirectories()))
        return true;
    m_error = FilePlatform::lastErrorText();
    return false;
}

// Every file and every folder whose entries changed must be on the disk:
// they are flushed together, rather than one after the other.
bool InstallationTransaction::flushChanged(const QStringList& files, const QStringList& changedEntries)
{
    QSet<QString> folders;
    for (const QString& file : files)
        folders.insert(QFileInfo(file).absolutePath());
    for (const QString& entry : changedEntries)
        folders.insert(QFileInfo(absolute(entry)).absolutePath());
    folders.insert(m_installDir.absolutePath());
    return FilePlatform::flushChanges(files, folders.values());
}

bool InstallationTransaction::commit()
{
    const QString journalPath = m_updates.journalPath(m_runStamp);
    const QString committedPath = m_updates.committedPath(m_runStamp);
    if (!FilePlatform::moveFile(journalPath, committedPath)) {
        m_error = FilePlatform::lastErrorText();
        return false;
    }
    if (!FilePlatform::flushDirectory(m_updates.path())) {
        // Not known to be on the disk: a power cut could still bring back
        // the journal, and with it the roll-back. Undone, to roll back now.
        m_error = FilePlatform::lastErrorText();
        if (FilePlatform::replaceFile(committedPath, journalPath))
            return false;
    }
    m_committed = true;
    return true;
}

void InstallationTransaction::finish()
{
    if (m_committed)
        QFile::remove(m_updates.committedPath(m_runStamp));
}

bool InstallationTransaction::rollBack(const RollBackReport& report)
{
    if (!m_begun || m_committed)
        return true;
    m_rolledBack = true;
    int restored = 0;
    return playBack(m_runStamp, m_journal, report, &restored);
}

// Puts back what the installation with this run stamp moved aside, removes
// what it added and the folders it made, flushes that, then removes its
// unpack folder and, last, its journal. Every step can be repeated, so a
// roll-back that is itself interrupted is finished by the next one.
bool InstallationTransaction::playBack(const QString& runStamp, const InstallationJournal& journal,
                                       const RollBackReport& report, int* restored)
{
    bool complete = true;
    QStringList changed;
    for (const InstallationJournal::Entry& entry : journal.entries()) {
        RollBackStep step;
        step.path = entry.path;
        step.oldName = oldName(entry.path, runStamp);
        const QString path = absolute(entry.path);
        const QString old = absolute(step.oldName);
        step.oldFileExisted = FilePlatform::entryExists(old);
        if (step.oldFileExisted) {
            if (FilePlatform::replaceFile(old, path)) {
                step.action = RollBackStep::Restored;
                ++*restored;
                changed.append(path);
                UPDATER_FAULT_POINT("recovery.restore");
            } else {
                step.action = RollBackStep::Failed;
                step.error = FilePlatform::lastErrorText();
            }
        } else if (!entry.existed && FilePlatform::entryExists(path)) {
            if (QFile::remove(path)) {
                step.action = RollBackStep::Removed;
                changed.append(path);
                UPDATER_FAULT_POINT("recovery.remove");
            } else {
                step.action = RollBackStep::Failed;
                step.error = QStringLiteral("it cannot be removed");
            }
        }
        if (step.action == RollBackStep::Failed) {
            complete = false;
            LOG_UPDATER(WARN) << "InstallationTransaction::rollBack :: "
                              << (step.oldFileExisted ? step.oldName + QStringLiteral(" cannot be put back: ")
                                                      : entry.path + QStringLiteral(" cannot be removed: "))
                              << step.error;
        }
        if (report)
            report(step);
    }
    QDir current(m_installDir);
    for (const QString& directory : journal.createdDirectories()) {
        if (current.rmdir(directory))
            changed.append(absolute(directory));
    }

    if (!complete)
        return false;
    if (!flushChanged(QStringList(), changed)) {
        LOG_UPDATER(WARN) << "InstallationTransaction::rollBack :: The roll-back cannot be written to the disk: "
                          << FilePlatform::lastErrorText();
        return false;
    }
    removeUnpackFolder(runStamp);
    UPDATER_FAULT_POINT("recovery.unpack-folder-removed");
    QFile::remove(m_updates.journalPath(runStamp));
    FilePlatform::flushDirectory(m_updates.path());
    return true;
}

QStringList InstallationTransaction::pendingStamps() const
{
    return m_updates.journalStamps();
}
