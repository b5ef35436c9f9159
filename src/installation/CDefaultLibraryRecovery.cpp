// One installation at a time per installation folder, and the roll-back of
// installations that were interrupted before their commit point.

#include "controller/CDefaultLibrary.h"

#include "FileListTools.h"
#include "FilePlatform.h"
#include "InstallationJournal.h"
#include "UpdatesFolder.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

// How long an installation waits for another one in the same folder.
const int LockWaitMs = 120 * 1000;

} // namespace

// Called first by every Update and UpdateFromData, whatever becomes of the
// call itself. Creates nothing: without "UPDATES", or with nothing left in it
// by an earlier installation, the folder stays exactly as it is. When
// another installation holds the lock, it has recovered the folder itself
// before starting, so nothing is left to do here.
void CDefaultLibrary::recoverInterruptedInstallations()
{
    m_updatesFolder.reset(new UpdatesFolder(QDir::current()));
    UpdatesFolder& updates = *m_updatesFolder;
    if (updates.exists() && updates.hasLeftovers()) {
        if (updates.lock(0))
            rollBackInterruptedInstallations();
        else if (updates.lockWasBusy())
            LOG_UPDATER(INFO) << "CDefaultLibrary::recoverInterruptedInstallations :: Another installation is running in "
                              << QDir::current().absolutePath() << "; the folder is left to it.";
        else
            LOG_UPDATER(WARN) << "CDefaultLibrary::recoverInterruptedInstallations :: The lock in " << updates.path()
                              << " cannot be created: no permission to write there.";
    }
    releaseInstallationFolder();
}

bool CDefaultLibrary::lockInstallationFolder()
{
    const int waitMs = int(UPDATER_LIMIT("lock_wait_ms", LockWaitMs));
    if (m_updatesFolder->lock(waitMs))
        return true;
    if (m_updatesFolder->lockWasBusy())
        LOG_UPDATER(WARN) << "CDefaultLibrary::lockInstallationFolder :: Another installation into "
                          << QDir::current().absolutePath() << " still runs after " << waitMs / 1000
                          << " s of waiting; nothing was changed.";
    else
        LOG_UPDATER(WARN) << "CDefaultLibrary::lockInstallationFolder :: The lock in " << m_updatesFolder->path()
                          << " cannot be created: no permission to write there, or the disk is full.";
    return false;
}

void CDefaultLibrary::releaseInstallationFolder()
{
    m_updatesFolder.reset();
}

// Under the lock: rolls back every installation that left a journal, then
// removes unpack folders without one (their installation was interrupted
// while unpacking, before anything was changed) and half-written journals.
void CDefaultLibrary::rollBackInterruptedInstallations()
{
    UpdatesFolder& updates = *m_updatesFolder;
    const QStringList journals = updates.journalStamps();
    for (const QString& stamp : journals)
        rollBackInterruptedInstallation(stamp);

    const QStringList pendingStamps = updates.journalStamps();
    const QSet<QString> pending(pendingStamps.begin(), pendingStamps.end());
    const QStringList folders = updates.stampFolders();
    for (const QString& stamp : folders) {
        if (pending.contains(stamp))
            continue;
        if (QDir(updates.dir().absoluteFilePath(stamp)).removeRecursively())
            LOG_UPDATER(NOTICE) << "CDefaultLibrary::rollBackInterruptedInstallations :: Unpack folder " << stamp
                                << " of an interrupted installation removed.";
        else
            LOG_UPDATER(WARN) << "CDefaultLibrary::rollBackInterruptedInstallations :: Unpack folder " << stamp
                              << " of an interrupted installation cannot be removed.";
    }
    for (const QString& name : updates.partialJournals())
        QFile::remove(updates.dir().absoluteFilePath(name));
}

// Puts back what the installation with this run stamp moved aside, removes
// what it added and the folders it made, then its unpack folder and, last,
// its journal. Every step can be repeated, so a roll-back that is itself
// interrupted is finished by the next one.
bool CDefaultLibrary::rollBackInterruptedInstallation(const QString& runStamp)
{
    UpdatesFolder& updates = *m_updatesFolder;
    const QString journalPath = updates.journalPath(runStamp);
    const QString oldSuffix = QLatin1Char('.') + runStamp + QLatin1String(OldFileSuffix);

    InstallationJournal journal;
    QString error;
    QVector<InstallationJournal::Entry> entries;
    QStringList createdDirectories;
    if (journal.read(journalPath, &error)) {
        entries = journal.entries();
        createdDirectories = journal.createdDirectories();
    } else {
        // Without its list, the files moved aside can still be found by
        // their names and put back.
        LOG_UPDATER(WARN) << "CDefaultLibrary::rollBackInterruptedInstallation :: The journal " << journalPath
                          << " cannot be read (" << error << "); restoring the files named *" << oldSuffix << ".";
        const QDir current = QDir::current();
        const QStringList oldFiles = findFilesRecursive(current, {QLatin1Char('*') + oldSuffix});
        for (const QString& oldFile : oldFiles)
            entries.append({current.relativeFilePath(oldFile.chopped(oldSuffix.size())), true});
    }

    int restored = 0;
    bool complete = true;
    QStringList changed;
    for (const InstallationJournal::Entry& entry : qAsConst(entries)) {
        const QString oldName = entry.path + oldSuffix;
        if (FilePlatform::entryExists(oldName)) {
            if (FilePlatform::replaceFile(oldName, entry.path)) {
                ++restored;
                changed.append(entry.path);
                UPDATER_FAULT_POINT("recovery.restore");
            } else {
                LOG_UPDATER(WARN) << "CDefaultLibrary::rollBackInterruptedInstallation :: " << oldName
                                  << " cannot be put back: " << FilePlatform::lastErrorText();
                complete = false;
            }
        } else if (!entry.existed && FilePlatform::entryExists(entry.path)) {
            if (QFile::remove(entry.path)) {
                changed.append(entry.path);
                UPDATER_FAULT_POINT("recovery.remove");
            } else {
                LOG_UPDATER(WARN) << "CDefaultLibrary::rollBackInterruptedInstallation :: " << entry.path
                                  << " cannot be removed.";
                complete = false;
            }
        }
    }
    removeEmptyDirectories(createdDirectories);
    changed += createdDirectories;

    if (!complete) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::rollBackInterruptedInstallation :: Interrupted installation " << runStamp
                          << " could not be rolled back completely; " << restored
                          << " files went back. The next update call tries again.";
        return false;
    }
    if (!flushInstalledFiles(QStringList(), changed))
        return false;
    QDir(updates.dir().absoluteFilePath(runStamp)).removeRecursively();
    UPDATER_FAULT_POINT("recovery.unpack-folder-removed");
    QFile::remove(journalPath);
    FilePlatform::flushDirectory(updates.path());
    LOG_UPDATER(NOTICE) << "CDefaultLibrary::rollBackInterruptedInstallation :: Interrupted installation " << runStamp
                        << " rolled back: " << restored << " files went back.";
    return true;
}
