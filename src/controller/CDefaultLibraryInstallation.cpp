// The installation of a verified package: its unpacking below "UPDATES",
// the replacement transaction with its roll-back, the clean-up of old files,
// and the recovery of what interrupted installations left. The work is
// m_installation's (PackageInstallation); these steps drive it and say in
// the log what became of it.

#include "CDefaultLibrary.h"

#include "installation/FileListTools.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

#include <QFileInfo>
#include <QSet>

namespace {

// How long an installation waits for another one in the same folder.
const int LockWaitMs = 120 * 1000;

void logRefusedEntry(const PackageEntryCheck& check)
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Package entry refused: " << check.refusedEntry()
                      << " (" << check.errorString() << ")";
}

void logNoPermissionsToUnzip(const QString& path)
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: No permissions to unzip to " << path << "!";
}

} // namespace

// Called first by every Update and UpdateFromData, whatever becomes of the
// call itself. Creates nothing: without "UPDATES", or with nothing left in it
// by an earlier installation, the folder stays exactly as it is.
void CDefaultLibrary::recoverInterruptedInstallations()
{
    switch (m_installation.recoverLeftovers()) {
    case PackageInstallation::Recovery::LeftToAnother:
        LOG_UPDATER(INFO) << "CDefaultLibrary::recoverInterruptedInstallations :: Another installation is running in "
                          << m_installation.installDir().absolutePath() << "; the folder is left to it.";
        break;
    case PackageInstallation::Recovery::CannotLock:
        LOG_UPDATER(WARN) << "CDefaultLibrary::recoverInterruptedInstallations :: The lock in "
                          << m_installation.updatesFolder().path()
                          << " cannot be created: no permission to write there (" << m_installation.errorString()
                          << ").";
        break;
    default:
        break;
    }
}

bool CDefaultLibrary::lockInstallationFolder()
{
    const int waitMs = int(UPDATER_LIMIT("lock_wait_ms", LockWaitMs));
    if (m_installation.lock(waitMs))
        return true;
    if (m_installation.lockWasBusy())
        LOG_UPDATER(WARN) << "CDefaultLibrary::lockInstallationFolder :: Another installation into "
                          << m_installation.installDir().absolutePath() << " still runs after " << waitMs / 1000
                          << " s of waiting; nothing was changed.";
    else
        LOG_UPDATER(WARN) << "CDefaultLibrary::lockInstallationFolder :: The lock in "
                          << m_installation.updatesFolder().path()
                          << " cannot be created: no permission to write there, or the disk is full ("
                          << m_installation.errorString() << ").";
    return false;
}

// Rolls back what was not committed, and lets go of the folder.
void CDefaultLibrary::releaseInstallationFolder()
{
    m_installation.release();
}

bool CDefaultLibrary::replaceFileByUpdateType()
{
    const QString tmpPackageFilePath = m_packageFile.path();
    LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: tmpPackageFilePath=" << tmpPackageFilePath;
    PackageInstallation& installation = m_installation;

    // Before anything is written: a package of too many entries or too many
    // bytes is refused, and so is one that would fill the disk. Nothing was
    // made: the message names the folder it would have been unpacked into.
    if (!installation.readPackage(m_packageFile.readPath())) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Package refused: "
                          << installation.errorString() << ".";
        logNoPermissionsToUnzip(installation.unpackPath());
        return false;
    }
    const PackageInstallation::FolderCheck folder = installation.openUpdatesFolder();
    if (folder != PackageInstallation::FolderCheck::Ready) {
        const QString oTimestampPath = installation.unpackPath();
        LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oTimestampPath=" << oTimestampPath;
        if (folder == PackageInstallation::FolderCheck::CannotCreate)
            LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The folder "
                              << installation.updatesFolder().path() << " cannot be created: no permission to write "
                              << "into " << installation.installDir().absolutePath() << " ("
                              << installation.errorString() << ").";
        logNoPermissionsToUnzip(oTimestampPath);
        return false;
    }
    if (!lockInstallationFolder())
        return false;
    UPDATER_FAULT_POINT("install.locked");
    installation.recover();

    // The run stamp names a fresh folder: should one of that name (or its
    // journal) be left from a run in the same millisecond, the next free
    // stamp is taken.
    const bool unpackFolderMade = installation.createUnpackFolder();
    const QString oTimestampPath = installation.unpackPath();
    LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oTimestampPath=" << oTimestampPath;
    if (!unpackFolderMade) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The unpack folder " << oTimestampPath
                          << " cannot be created: no permission to write into "
                          << installation.updatesFolder().path() << " (" << installation.errorString() << ").";
        logNoPermissionsToUnzip(oTimestampPath);
        return false;
    }

    bool result = false;
    const PackageEntryCheck::Outcome entries = installation.checkEntries();
    QStringList oFilePathsList;
    if (entries == PackageEntryCheck::Refused) {
        logRefusedEntry(installation.entryCheck());
    } else if (entries == PackageEntryCheck::Unreadable) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The package is not a readable zip archive.";
        logNoPermissionsToUnzip(oTimestampPath);
    } else if (!installation.unpack(&oFilePathsList)) {
        if (installation.wasCancelled())
            LOG_UPDATER(NOTICE) << "CDefaultLibrary::replaceFileByUpdateType :: The host cancelled the unpacking; "
                                   "nothing was installed.";
        else if (installation.failedEntry().isEmpty())
            LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The package cannot be unpacked: "
                              << installation.errorString() << ".";
        else
            LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Package entry "
                              << installation.failedEntry() << " cannot be unpacked: " << installation.errorString()
                              << ".";
        if (!installation.wasCancelled())
            logNoPermissionsToUnzip(oTimestampPath);
    } else {
        // Unpacked, the package is not read again: its bytes go before the
        // installation's flush, which would otherwise write them to the
        // disk as well when the temporary folder is on that file system.
        m_packageFile.dropBytes();
        UPDATER_FAULT_POINT("install.unpacked");
        LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oFilePathsList.size()="
                          << oFilePathsList.size();
        for (const QString& oFilePath : oFilePathsList)
            LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oFilePath=" << oFilePath;
        result = replaceFiles(QDir(oTimestampPath), oFilePathsList);
    }

    if (installation.removeUnpackFolder())
        LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: Temporary updates files in UPDATES directory "
                             "removed";
    else
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Can't remove temporary updates files in "
                             "UPDATES directory";
    UPDATER_FAULT_POINT("install.unpack-folder-removed");
    return result;
}

// The steps of the installation's transaction, which keeps the journal: any
// failure, any way out of here before the commit point, and the host's
// cancel before it, roll it back.
bool CDefaultLibrary::replaceFiles(QDir unpackDir, QStringList filePaths)
{
    filePaths = removeDirsFromList(filePaths);
    filePaths = toRelativePaths(unpackDir, filePaths);
    PackageInstallation& installation = m_installation;
    InstallationTransaction& transaction = installation.transaction();

    if (!transaction.begin(filePaths)) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation journal "
                          << transaction.updatesFolder().pathOf(UpdatesFolder::journalName(transaction.runStamp()))
                          << " cannot be written (" << transaction.errorString() << "); nothing was changed.";
        return false;
    }
    UPDATER_FAULT_POINT("install.journal");
    installation.beginInstalling(filePaths.size());

    // The run stamp is the transaction's own: it names the old files itself.
    if (addOldSuffixToFilesName(filePaths, QString())) {
        UPDATER_FAULT_POINT("install.moved-aside");
        if (copyNewFiles(unpackDir, filePaths)) {
            UPDATER_FAULT_POINT("install.moved-in");
            if (!installation.flush()) {
                if (!installation.wasCancelled())
                    LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The new files cannot be written to the "
                                         "disk: "
                                      << installation.errorString();
            } else {
                UPDATER_FAULT_POINT("install.flushed");
                if (transaction.commit()) {
                    // Once the journal is committed, the new files stay,
                    // whatever happens next.
                    installation.endInstalling();
                    UPDATER_FAULT_POINT("install.committed");
                    return true;
                }
                LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation journal cannot be committed ("
                                  << transaction.errorString() << "); the installation is rolled back.";
            }
        }
    }
    if (installation.wasCancelled())
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::replaceFiles :: The host cancelled the installation before its "
                               "commit point; it is rolled back.";

    if (!revertOldFiles(filePaths, QString()))
        // The journal stays: the next installation in this folder tries
        // the roll-back again, and no clean-up deletes the files moved aside
        // meanwhile.
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation could not be rolled back completely; "
                             "the next update call in this folder tries again.";
    installation.endInstalling();
    return false;
}

QStringList CDefaultLibrary::removeDirsFromList(QStringList paths)
{
    QStringList files;
    files.reserve(paths.size());
    // The unpacked entries that are folders (or links to folders, which the
    // unpacking made nothing of) end in "/".
    for (const QString& oPath : paths) {
        if (oPath.endsWith(QLatin1Char('/'))) {
            LOG_UPDATER(INFO) << "CDefaultLibrary::removeDirsFromList :: oPath=" << oPath
                              << " removed from list (detected as dir)";
        } else {
            files.append(oPath);
        }
    }
    return files;
}

// runStamp: unused, kept for the step's signature; the transaction names the
// old files with its own stamp.
bool CDefaultLibrary::addOldSuffixToFilesName(QStringList relativePaths, QString /*runStamp*/)
{
    InstallationTransaction& transaction = m_installation.transaction();
    for (const QString& oFilePath : relativePaths) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::addOldSuffixToFilesName :: oFilePath=" << oFilePath;
        if (!m_installation.step(0))
            return false;
        // Only files (or links to files) are moved aside; a folder in the
        // way makes the installation fail and roll back.
        if (!transaction.holdsFile(oFilePath))
            continue;
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::addOldSuffixToFilesName :: Destination file already exist.";
        const QString oOldFileName = transaction.oldName(oFilePath);
        LOG_UPDATER(INFO) << "CDefaultLibrary::addOldSuffixToFilesName :: oOldFileName=" << oOldFileName;
        if (!transaction.moveAside(oFilePath)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::addOldSuffixToFilesName :: Old destination file can't be renamed.";
            LOG_UPDATER(WARN) << "CDefaultLibrary::addOldSuffixToFilesName :: " << oFilePath
                              << " cannot be moved aside: no permission to rename it, or its folder is read-only.";
            return false;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::addOldSuffixToFilesName :: Old destination file renamed.";
        UPDATER_FAULT_POINT("install.move-aside");
    }
    return true;
}

// Each unpacked file is moved into place, so it is written once. A move
// never replaces what stands at the destination; it copies only where a
// rename cannot work (another file system).
bool CDefaultLibrary::copyNewFiles(QDir unpackDir, QStringList relativePaths)
{
    InstallationTransaction& transaction = m_installation.transaction();
    QSet<QString> folders; // made or found already
    const QString current = m_installation.installDir().absolutePath();
    qint64 moved = 0;
    for (const QString& oFilePath : relativePaths) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::copyNewFiles :: oFilePath=" << oFilePath;
        const QString oSrcFilePath = unpackDir.absoluteFilePath(oFilePath);
        LOG_UPDATER(INFO) << "CDefaultLibrary::copyNewFiles :: oSrcFilePath=" << oSrcFilePath;
        const QString parent = QFileInfo(oFilePath).path();
        const QString oFinalDestDirPath =
            parent == QLatin1String(".") ? current : QDir::cleanPath(current + QLatin1Char('/') + parent);
        LOG_UPDATER(INFO) << "CDefaultLibrary::copyNewFiles :: oFinalDestDirPath=" << oFinalDestDirPath;
        if (!folders.contains(oFinalDestDirPath)) {
            QDir().mkpath(oFinalDestDirPath);
            folders.insert(oFinalDestDirPath);
        }

        // The unpacked copy holds no links (a link to a file was unpacked
        // as a copy of it), so every file can be moved.
        if (!transaction.moveIn(oFilePath, oFilePath)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: Can't copy file to destination folder.";
            if (transaction.lastMoveFoundSomething())
                LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: " << oFilePath
                                  << " is in the way: a folder or a link stands where the package has a file.";
            else
                LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: " << oFilePath << " cannot be put in place: "
                                  << transaction.errorString();
            return false;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file copied to destination folder.";

        // The unpacked file got its permissions (PackageUnpacker::InstalledFilePermissions)
        // while it was written, on its open handle: the move keeps them, and
        // so does the copy where the move cannot rename.
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file's permission changed.";
        UPDATER_FAULT_POINT("install.move-in");
        if (!m_installation.step(++moved))
            return false;
    }
    return true;
}

// The roll-back is the playback of the transaction's journal, which lists the
// same paths under the same run stamp: the one roll-back there is, also for
// installations that a kill or a power cut interrupted. Its steps are
// reported here path by path. Both arguments are unused, kept for the step's
// signature: the journal holds the paths, the transaction its stamp.
bool CDefaultLibrary::revertOldFiles(QStringList /*relativePaths*/, QString /*runStamp*/)
{
    return m_installation.transaction().rollBack([](const InstallationTransaction::RollBackStep& step) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::revertOldFiles :: oFilePath=" << step.path;
        LOG_UPDATER(INFO) << "CDefaultLibrary::revertOldFiles :: oOldFileName=" << step.oldName;
        if (!step.oldFileExisted)
            return;
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::revertOldFiles :: Old file exist. Need to revert.";
        if (step.action == InstallationTransaction::RollBackStep::Restored)
            LOG_UPDATER(NOTICE) << "CDefaultLibrary::revertOldFiles :: Old file reverted.";
        else
            LOG_UPDATER(WARN) << "CDefaultLibrary::revertOldFiles :: Old file can't be reverted. Can't change back old "
                                 "file name.";
    });
}

void CDefaultLibrary::tryRemoveAllOldFiles()
{
    const QDir directory = m_installation.installDir();
    LOG_UPDATER(INFO) << "CDefaultLibrary::tryRemoveAllOldFiles :: directory.absolutePath()=" << directory.absolutePath();
    m_installation.beginCleanUp();
    m_installation.endCleanUp(createListOfOldFilesInDirectoryRecursive(directory));
}

QStringList CDefaultLibrary::createListOfOldFilesInDirectoryRecursive(QDir directory)
{
    const QStringList paths = m_installation.findOldFiles(directory);
    LOG_UPDATER(INFO) << "CDefaultLibrary::createListOfOldFilesInDirectoryRecursive :: Found <" << paths.size()
                      << "> old files";
    return paths;
}
