#include "InstallationTransaction.h"

#include "FileListTools.h"
#include "FilePlatform.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>

InstallationTransaction::InstallationTransaction(const QDir& installDir, FolderHandle& installFolder,
                                                 UpdatesFolder& updates)
    : m_installDir(installDir.absolutePath())
    , m_installFolder(installFolder)
    , m_updates(updates)
{
}

InstallationTransaction::~InstallationTransaction()
{
    release();
}

void InstallationTransaction::release()
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

bool InstallationTransaction::lock(int timeoutMs)
{
    if (m_updates.lock(timeoutMs))
        return true;
    m_error = m_updates.errorString();
    return false;
}

void InstallationTransaction::unlock()
{
    m_updates.unlock();
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
        if (m_updates.folder().removeTree(stamp))
            LOG_UPDATER(NOTICE) << "InstallationTransaction::recover :: Unpack folder " << stamp
                                << " of an interrupted installation removed.";
        else
            LOG_UPDATER(WARN) << "InstallationTransaction::recover :: Unpack folder " << stamp
                              << " of an interrupted installation cannot be removed: "
                              << m_updates.folder().errorString();
    }
    // Written only partly when the process or the power went: nothing was
    // changed on the strength of them.
    for (const QString& name : m_updates.partialJournals())
        m_updates.folder().removeTree(name);
}

// A journal found on the disk. One that cannot be read, or that names a
// path it could not have written, is not followed: the files moved aside
// under its run stamp are found by their names inside the installation
// folder and put back, and the journal is moved aside for a person to look
// at, so that it neither warns at every call nor holds anything back.
void InstallationTransaction::rollBackInterrupted(const QString& runStamp)
{
    const QString journalName = UpdatesFolder::journalName(runStamp);
    const QString journalPath = m_updates.pathOf(journalName);
    InstallationJournal journal;
    const InstallationJournal::ReadOutcome read = journal.read(m_updates.folder(), journalName, m_installDir);
    const bool followed = read == InstallationJournal::Read;
    if (!followed) {
        const QString suffix = InstallPathRules::oldSuffix(runStamp);
        QVector<InstallationJournal::Entry> entries;
        const QStringList oldFiles = findFilesRecursive(m_installDir, {QLatin1Char('*') + suffix},
                                                        {QString::fromLatin1(InstallPathRules::UpdatesFolderName)});
        for (const QString& oldFile : oldFiles)
            entries.append({m_installDir.relativeFilePath(oldFile.chopped(suffix.size())), true});
        const QString reason = journal.errorString();
        journal = InstallationJournal(runStamp, entries, QStringList());
        int restored = 0;
        const bool complete = playBack(runStamp, journal, RollBackReport(), &restored, false);
        if (complete && m_updates.reject(journalName))
            LOG_UPDATER(WARN) << "InstallationTransaction::recover :: The journal " << journalPath
                              << (read == InstallationJournal::Untrusted ? " is not played back (" : " cannot be read (")
                              << reason << "); " << restored << " files named *" << suffix
                              << " went back, and the journal was moved aside as " << journalName << ".rejected.";
        else
            LOG_UPDATER(WARN) << "InstallationTransaction::recover :: The journal " << journalPath
                              << " cannot be used (" << reason << "); " << restored << " files named *" << suffix
                              << " went back, not all of them. The next update call tries again.";
        return;
    }

    int restored = 0;
    if (playBack(runStamp, journal, RollBackReport(), &restored, true))
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
    const QString committedName = UpdatesFolder::committedName(runStamp);
    InstallationJournal journal;
    if (journal.read(m_updates.folder(), committedName, m_installDir) != InstallationJournal::Read) {
        LOG_UPDATER(WARN) << "InstallationTransaction::recover :: The journal " << m_updates.pathOf(committedName)
                          << " of a committed installation is not used (" << journal.errorString()
                          << "); it was moved aside as " << committedName << ".rejected.";
        if (!m_updates.reject(committedName))
            m_updates.folder().remove(committedName);
        return;
    }
    QStringList oldFiles;
    for (const InstallationJournal::Entry& entry : journal.entries()) {
        if (entry.existed)
            oldFiles.append(absolute(InstallPathRules::oldName(entry.path, runStamp)));
    }
    removeFiles(oldFiles);
    UPDATER_FAULT_POINT("recovery.cleaned");
    m_updates.folder().removeTree(runStamp);
    m_updates.folder().remove(committedName);
    LOG_UPDATER(NOTICE) << "InstallationTransaction::recover :: The clean-up of installation " << runStamp
                        << " finished: its old files were deleted.";
}

bool InstallationTransaction::createUnpackFolder()
{
    qint64 stamp = QDateTime::currentMSecsSinceEpoch();
    while (!m_updates.stampIsFree(QString::number(stamp)))
        ++stamp;
    m_runStamp = QString::number(stamp);
    m_unpackFolder = m_updates.folder().openFolder(m_runStamp, true);
    if (m_unpackFolder.isOpen())
        return true;
    m_error = m_unpackFolder.errorString();
    return false;
}

bool InstallationTransaction::removeUnpackFolder()
{
    m_unpackFolder = FolderHandle();
    if (m_updates.folder().removeTree(m_runStamp))
        return true;
    m_error = m_updates.folder().errorString();
    return false;
}

bool InstallationTransaction::begin(const QStringList& relativePaths)
{
    QVector<InstallationJournal::Entry> entries;
    entries.reserve(relativePaths.size());
    m_foundKinds.clear();
    m_foundKinds.reserve(relativePaths.size());
    for (const QString& path : relativePaths) {
        const FolderHandle::Kind kind = m_installFolder.kind(path);
        entries.append({path, kind != FolderHandle::Kind::Missing});
        m_foundKinds.insert(path, kind);
    }
    // Folders that the new files need and that are not there yet; a roll-back
    // takes them away again.
    m_journal = InstallationJournal(m_runStamp, entries, missingParentDirectories(relativePaths));
    m_installedPaths.clear();
    m_movedAsidePaths.clear();
    if (!m_journal.write(m_updates.folder(), UpdatesFolder::journalName(m_runStamp),
                         UpdatesFolder::partialJournalName(m_runStamp))) {
        m_error = m_journal.errorString();
        return false;
    }
    m_begun = true;
    return true;
}

bool InstallationTransaction::holdsFile(const QString& path) const
{
    switch (m_foundKinds.value(path, FolderHandle::Kind::Missing)) {
    case FolderHandle::Kind::File:
        return true;
    case FolderHandle::Kind::Link:
        return QFileInfo(absolute(path)).isFile();
    default:
        return false;
    }
}

bool InstallationTransaction::moveAside(const QString& path)
{
    if (m_installFolder.rename(path, m_installFolder, oldName(path), false)) {
        m_movedAsidePaths.append(path);
        return true;
    }
    m_error = m_installFolder.errorString();
    return false;
}

bool InstallationTransaction::moveIn(const QString& source, const QString& path)
{
    m_inTheWay = false;
    if (!m_unpackFolder.rename(source, m_installFolder, path, false)) {
        m_error = m_unpackFolder.errorString();
        m_inTheWay = m_unpackFolder.lastFailureWasExisting();
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
    m_error = flushChanged(files, m_journal.createdDirectories());
    return m_error.isEmpty();
}

// Every file and every folder whose entries changed must be on the disk:
// they are flushed together, rather than one after the other. The reason
// when that fails.
QString InstallationTransaction::flushChanged(const QStringList& files, const QStringList& changedEntries)
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
    FolderHandle& updates = m_updates.folder();
    const QString journalName = UpdatesFolder::journalName(m_runStamp);
    const QString committedName = UpdatesFolder::committedName(m_runStamp);
    if (!updates.rename(journalName, updates, committedName, false)) {
        m_error = updates.errorString();
        return false;
    }
    if (!updates.flush()) {
        // Not known to be on the disk: a power cut could still bring back
        // the journal, and with it the roll-back. Undone, to roll back now.
        m_error = updates.errorString();
        if (updates.rename(committedName, updates, journalName, true))
            return false;
    }
    m_committed = true;
    return true;
}

void InstallationTransaction::finish()
{
    if (m_committed)
        m_updates.folder().remove(UpdatesFolder::committedName(m_runStamp));
}

bool InstallationTransaction::rollBack(const RollBackReport& report)
{
    if (!m_begun || m_committed)
        return true;
    m_rolledBack = true;
    int restored = 0;
    return playBack(m_runStamp, m_journal, report, &restored, true);
}

// Puts back what the installation with this run stamp moved aside, removes
// what it added and the folders it made, flushes that, then removes its
// unpack folder and, last (with removeJournal), its journal. Every step can
// be repeated, so a roll-back that is itself interrupted is finished by the
// next one.
bool InstallationTransaction::playBack(const QString& runStamp, const InstallationJournal& journal,
                                       const RollBackReport& report, int* restored, bool removeJournal)
{
    bool complete = true;
    QStringList changed;
    for (const InstallationJournal::Entry& entry : journal.entries()) {
        RollBackStep step;
        step.path = entry.path;
        step.oldName = InstallPathRules::oldName(entry.path, runStamp);
        step.oldFileExisted = m_installFolder.kind(step.oldName) != FolderHandle::Kind::Missing;
        if (step.oldFileExisted) {
            if (m_installFolder.rename(step.oldName, m_installFolder, entry.path, true)) {
                step.action = RollBackStep::Restored;
                ++*restored;
                changed.append(absolute(entry.path));
                UPDATER_FAULT_POINT("recovery.restore");
            } else {
                step.action = RollBackStep::Failed;
                step.error = m_installFolder.errorString();
            }
        } else if (!entry.existed && m_installFolder.kind(entry.path) != FolderHandle::Kind::Missing) {
            if (m_installFolder.remove(entry.path)) {
                step.action = RollBackStep::Removed;
                changed.append(absolute(entry.path));
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
    for (const QString& directory : journal.createdDirectories()) {
        if (m_installFolder.removeFolder(directory))
            changed.append(absolute(directory));
    }

    if (!complete)
        return false;
    const QString flushError = flushChanged(QStringList(), changed);
    if (!flushError.isEmpty()) {
        LOG_UPDATER(WARN) << "InstallationTransaction::rollBack :: The roll-back cannot be written to the disk: "
                          << flushError;
        return false;
    }
    FolderHandle& updates = m_updates.folder();
    updates.removeTree(runStamp);
    UPDATER_FAULT_POINT("recovery.unpack-folder-removed");
    if (removeJournal) {
        updates.remove(UpdatesFolder::journalName(runStamp));
        updates.flush();
    }
    return true;
}

QStringList InstallationTransaction::pendingStamps()
{
    return m_updates.journalStamps();
}
