// Installing unpacked files over the current directory: a transaction with a
// journal on disk, so that it is rolled back whether it fails, or the process
// is killed, or the power goes, before its commit point.

#include "controller/CDefaultLibrary.h"

#include "BackgroundWork.h"
#include "FileListTools.h"
#include "FilePlatform.h"
#include "InstallationTransaction.h"
#include "UpdatesFolder.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

// The steps of the installation's transaction (m_transaction), which keeps
// the journal: any failure, and any way out of here before the commit
// point, rolls it back.
bool CDefaultLibrary::replaceFiles(QDir unpackDir, QStringList filePaths)
{
    filePaths = removeDirsFromList(filePaths);
    filePaths = toRelativePaths(unpackDir, filePaths);
    const QString runStamp = unpackDir.dirName();
    InstallationTransaction& transaction = *m_transaction;

    if (!transaction.begin(filePaths)) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation journal "
                          << transaction.updatesFolder().pathOf(UpdatesFolder::journalName(runStamp))
                          << " cannot be written ("
                          << transaction.errorString() << "); nothing was changed.";
        return false;
    }
    UPDATER_FAULT_POINT("install.journal");

    if (addOldSuffixToFilesName(filePaths, runStamp)) {
        UPDATER_FAULT_POINT("install.moved-aside");
        if (copyNewFiles(unpackDir, filePaths)) {
            UPDATER_FAULT_POINT("install.moved-in");
            if (!transaction.flush()) {
                LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The new files cannot be written to the disk: "
                                  << transaction.errorString();
            } else {
                UPDATER_FAULT_POINT("install.flushed");
                if (transaction.commit()) {
                    // Once the journal is committed, the new files stay,
                    // whatever happens next.
                    UPDATER_FAULT_POINT("install.committed");
                    return true;
                }
                LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation journal cannot be committed ("
                                  << transaction.errorString() << "); the installation is rolled back.";
            }
        }
    }

    if (!revertOldFiles(filePaths, runStamp))
        // The journal stays: the next installation in this folder tries
        // the roll-back again, and no clean-up deletes the files moved aside
        // meanwhile.
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation could not be rolled back completely; "
                             "the next update call in this folder tries again.";
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

bool CDefaultLibrary::addOldSuffixToFilesName(QStringList relativePaths, QString)
{
    for (const QString& oFilePath : relativePaths) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::addOldSuffixToFilesName :: oFilePath=" << oFilePath;
        // Only files (or links to files) are moved aside; a folder in the
        // way makes the installation fail and roll back.
        if (!m_transaction->holdsFile(oFilePath))
            continue;
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::addOldSuffixToFilesName :: Destination file already exist.";
        const QString oOldFileName = m_transaction->oldName(oFilePath);
        LOG_UPDATER(INFO) << "CDefaultLibrary::addOldSuffixToFilesName :: oOldFileName=" << oOldFileName;
        if (!m_transaction->moveAside(oFilePath)) {
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
    QSet<QString> folders; // made or found already
    const QString current = QDir::currentPath();
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
        if (!m_transaction->moveIn(oFilePath, oFilePath)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: Can't copy file to destination folder.";
            if (m_transaction->lastMoveFoundSomething())
                LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: " << oFilePath
                                  << " is in the way: a folder or a link stands where the package has a file.";
            else
                LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: " << oFilePath << " cannot be put in place: "
                                  << m_transaction->errorString();
            return false;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file copied to destination folder.";

        // The unpacked file got its permissions (PackageUnpacker::InstalledFilePermissions)
        // while it was written, on its open handle: the move keeps them, and
        // so does the copy where the move cannot rename.
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file's permission changed.";
        UPDATER_FAULT_POINT("install.move-in");
    }
    return true;
}

// The roll-back is the playback of the transaction's journal, which lists the
// same paths under the same run stamp: the one roll-back there is, also for
// installations that a kill or a power cut interrupted. Its steps are
// reported here path by path.
bool CDefaultLibrary::revertOldFiles(QStringList, QString)
{
    return m_transaction->rollBack([](const InstallationTransaction::RollBackStep& step) {
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
    const QDir directory = QDir::current();
    LOG_UPDATER(INFO) << "CDefaultLibrary::tryRemoveAllOldFiles :: directory.absolutePath()=" << directory.absolutePath();

    // What this installation put in place stays, even when its name ends in
    // ".old"; so do the files moved aside by an installation whose roll-back
    // is still pending.
    // The files this installation moved aside are known without looking:
    // they are deleted while the walk looks for the others.
    QSet<QString> keep;
    QStringList pendingSuffixes;
    QStringList ownOldFiles;
    if (m_transaction) {
        for (const QString& path : m_transaction->installedPaths())
            keep.insert(directory.absoluteFilePath(path));
        for (const QString& stamp : m_transaction->pendingStamps())
            pendingSuffixes.append(InstallPathRules::oldSuffix(stamp));
        for (const QString& path : m_transaction->movedAsidePaths())
            ownOldFiles.append(directory.absoluteFilePath(m_transaction->oldName(path)));
    }
    BackgroundWork ownRemoval;
    if (!ownOldFiles.isEmpty())
        ownRemoval.start([&ownOldFiles] { removeFiles(ownOldFiles); });
    keep.unite(QSet<QString>(ownOldFiles.begin(), ownOldFiles.end()));

    QStringList oldFiles;
    const QStringList found = createListOfOldFilesInDirectoryRecursive(directory);
    for (const QString& path : found) {
        bool pending = false;
        for (const QString& suffix : qAsConst(pendingSuffixes))
            pending = pending || path.endsWith(suffix);
        if (!pending && !keep.contains(path))
            oldFiles.append(path);
    }
    removeFiles(oldFiles);
    ownRemoval.wait();
    UPDATER_FAULT_POINT("install.cleaned");
}

QStringList CDefaultLibrary::createListOfOldFilesInDirectoryRecursive(QDir directory)
{
    // The module's own folder holds none of the installation's files.
    QStringList paths = findFilesRecursive(directory, oldFileFilters(), {QString::fromLatin1(InstallPathRules::UpdatesFolderName)});
    // The files this installation moved aside count whether the walk still
    // found them or they were deleted while it went.
    if (m_transaction) {
        QSet<QString> found(paths.begin(), paths.end());
        for (const QString& path : m_transaction->movedAsidePaths()) {
            const QString oldFile = directory.absoluteFilePath(m_transaction->oldName(path));
            if (!found.contains(oldFile))
                paths.append(oldFile);
        }
    }
    LOG_UPDATER(INFO) << "CDefaultLibrary::createListOfOldFilesInDirectoryRecursive :: Found <" << paths.size()
                      << "> old files";
    return paths;
}
