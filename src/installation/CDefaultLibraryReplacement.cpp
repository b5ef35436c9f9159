// Installing unpacked files over the current directory: a transaction with a
// journal on disk, so that it is rolled back whether it fails, or the process
// is killed, or the power goes, before its commit point.

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

QString oldFileName(const QString& path, const QString& runStamp)
{
    return path + QLatin1Char('.') + runStamp + QLatin1String(OldFileSuffix);
}

// rwxr-xr-x
const QFile::Permissions InstalledFilePermissions = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser
                                                    | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                    | QFile::ExeOther;

} // namespace

bool CDefaultLibrary::replaceFiles(QDir unpackDir, QStringList filePaths)
{
    filePaths = removeDirsFromList(filePaths);
    filePaths = toRelativePaths(unpackDir, filePaths);
    const QString runStamp = unpackDir.dirName();
    m_installedFiles.clear();

    // Folders that the new files will need and that are not there yet; a
    // failed installation takes them away again.
    const QStringList newDirectories = missingParentDirectories(filePaths);

    QVector<InstallationJournal::Entry> entries;
    entries.reserve(filePaths.size());
    for (const QString& path : filePaths)
        entries.append({path, FilePlatform::entryExists(path)});
    const QString journalPath = QDir(unpackDir.absoluteFilePath(QStringLiteral(".."))).absoluteFilePath(
        runStamp + QStringLiteral(".journal"));
    QString journalError;
    if (!InstallationJournal(runStamp, entries, newDirectories).write(journalPath, &journalError)) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation journal " << journalPath
                          << " cannot be written (" << journalError << "); nothing was changed.";
        QFile::remove(journalPath);
        return false;
    }
    UPDATER_FAULT_POINT("install.journal");

    bool installed = false;
    if (addOldSuffixToFilesName(filePaths, runStamp)) {
        UPDATER_FAULT_POINT("install.moved-aside");
        if (copyNewFiles(unpackDir, filePaths)) {
            UPDATER_FAULT_POINT("install.moved-in");
            installed = flushInstalledFiles(filePaths, newDirectories);
        }
    }

    if (installed) {
        // The commit point: once the journal is gone for good, the new files
        // stay, whatever happens next.
        UPDATER_FAULT_POINT("install.flushed");
        if (QFile::remove(journalPath)) {
            if (!FilePlatform::flushDirectory(QFileInfo(journalPath).absolutePath()))
                LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The removal of the installation journal could "
                                     "not be flushed to the disk: "
                                  << FilePlatform::lastErrorText();
            UPDATER_FAULT_POINT("install.committed");
            return true;
        }
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation journal " << journalPath
                          << " cannot be removed; the installation is rolled back.";
    }

    removeFiles(m_installedFiles);
    m_installedFiles.clear();
    const bool reverted = revertOldFiles(filePaths, runStamp);
    removeEmptyDirectories(newDirectories);
    if (reverted && flushInstalledFiles(QStringList(), newDirectories + filePaths)) {
        QFile::remove(journalPath);
        FilePlatform::flushDirectory(QFileInfo(journalPath).absolutePath());
    } else {
        // The journal stays: the next installation in this folder tries
        // the roll-back again, and no clean-up deletes the files moved aside
        // meanwhile.
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFiles :: The installation could not be rolled back completely; "
                             "the next update call in this folder tries again.";
    }
    return false;
}

QStringList CDefaultLibrary::removeDirsFromList(QStringList paths)
{
    QStringList files;
    files.reserve(paths.size());
    for (const QString& oPath : paths) {
        if (QFileInfo(oPath).isDir()) {
            LOG_UPDATER(INFO) << "CDefaultLibrary::removeDirsFromList :: oPath=" << oPath
                              << " removed from list (detected as dir)";
        } else {
            files.append(oPath);
        }
    }
    return files;
}

bool CDefaultLibrary::addOldSuffixToFilesName(QStringList relativePaths, QString runStamp)
{
    for (const QString& oFilePath : relativePaths) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::addOldSuffixToFilesName :: oFilePath=" << oFilePath;
        // Only files (or links to files) are moved aside; a folder in the
        // way makes the installation fail and roll back.
        if (!QFileInfo(oFilePath).isFile())
            continue;
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::addOldSuffixToFilesName :: Destination file already exist.";
        const QString oOldFileName = oldFileName(oFilePath, runStamp);
        LOG_UPDATER(INFO) << "CDefaultLibrary::addOldSuffixToFilesName :: oOldFileName=" << oOldFileName;
        if (!QFile::rename(oFilePath, oOldFileName)) {
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

        // The unpacked copy holds no links to files any more (they were
        // replaced by copies), so every file can be moved.
        if (!FilePlatform::moveFile(oSrcFilePath, oFilePath)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: Can't copy file to destination folder.";
            if (FilePlatform::lastErrorWasExisting())
                LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: " << oFilePath
                                  << " is in the way: a folder or a link stands where the package has a file.";
            else
                LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: " << oFilePath << " cannot be put in place: "
                                  << FilePlatform::lastErrorText();
            return false;
        }
        m_installedFiles.append(oFilePath);
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file copied to destination folder.";

        if (!QFile::setPermissions(oFilePath, InstalledFilePermissions)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: Can't set proper permissions to destination file.";
            return false;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file's permission changed.";
        UPDATER_FAULT_POINT("install.move-in");
    }
    return true;
}

bool CDefaultLibrary::revertOldFiles(QStringList relativePaths, QString runStamp)
{
    bool reverted = true;
    for (const QString& oFilePath : relativePaths) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::revertOldFiles :: oFilePath=" << oFilePath;
        const QString oOldFileName = oldFileName(oFilePath, runStamp);
        LOG_UPDATER(INFO) << "CDefaultLibrary::revertOldFiles :: oOldFileName=" << oOldFileName;
        if (!FilePlatform::entryExists(oOldFileName))
            continue;
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::revertOldFiles :: Old file exist. Need to revert.";
        if (QFile::rename(oOldFileName, oFilePath)) {
            LOG_UPDATER(NOTICE) << "CDefaultLibrary::revertOldFiles :: Old file reverted.";
        } else {
            LOG_UPDATER(WARN) << "CDefaultLibrary::revertOldFiles :: Old file can't be reverted. Can't change back old "
                                 "file name.";
            reverted = false;
        }
    }
    return reverted;
}

// Before the commit point every new file and every folder whose entries
// changed must be on the disk. They are flushed together once all files
// are in place, rather than one file after the other.
bool CDefaultLibrary::flushInstalledFiles(const QStringList& relativePaths, const QStringList& changedEntries)
{
    QSet<QString> folders;
    for (const QString& path : relativePaths)
        folders.insert(QFileInfo(path).absolutePath());
    for (const QString& entry : changedEntries)
        folders.insert(QFileInfo(entry).absolutePath());
    folders.insert(QDir::currentPath());
    if (FilePlatform::flushChanges(relativePaths, folders.values()))
        return true;
    LOG_UPDATER(WARN) << "CDefaultLibrary::flushInstalledFiles :: The new files cannot be written to the disk: "
                      << FilePlatform::lastErrorText();
    return false;
}

void CDefaultLibrary::tryRemoveAllOldFiles()
{
    const QDir directory = QDir::current();
    LOG_UPDATER(INFO) << "CDefaultLibrary::tryRemoveAllOldFiles :: directory.absolutePath()=" << directory.absolutePath();

    // What this installation put in place stays, even when its name ends in
    // ".old"; so do the files moved aside by an installation whose roll-back
    // is still pending.
    QSet<QString> keep;
    for (const QString& path : qAsConst(m_installedFiles))
        keep.insert(directory.absoluteFilePath(path));
    QStringList pendingSuffixes;
    if (m_updatesFolder) {
        for (const QString& stamp : m_updatesFolder->journalStamps())
            pendingSuffixes.append(QLatin1Char('.') + stamp + QLatin1String(OldFileSuffix));
    }
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
    UPDATER_FAULT_POINT("install.cleaned");
}

QStringList CDefaultLibrary::createListOfOldFilesInDirectoryRecursive(QDir directory)
{
    const QStringList paths = findFilesRecursive(directory, oldFileFilters());
    LOG_UPDATER(INFO) << "CDefaultLibrary::createListOfOldFilesInDirectoryRecursive :: Found <" << paths.size()
                      << "> old files";
    return paths;
}
