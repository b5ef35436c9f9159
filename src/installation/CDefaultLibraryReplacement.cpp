// Installing unpacked files over the current directory, with rollback.

#include "controller/CDefaultLibrary.h"

#include "FileListTools.h"
#include "logging/Log.h"

#include <QFile>
#include <QFileInfo>

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

    // Folders that the copies will need and that are not there yet; a failed
    // installation takes them away again.
    const QStringList newDirectories = missingParentDirectories(filePaths);

    if (addOldSuffixToFilesName(filePaths, runStamp)) {
        if (copyNewFiles(unpackDir, filePaths))
            return true;
        removeFiles(filePaths);
    }
    revertOldFiles(filePaths, runStamp);
    removeEmptyDirectories(newDirectories);
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
        // way makes the copy fail and the whole installation roll back.
        if (!QFileInfo(oFilePath).isFile())
            continue;
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::addOldSuffixToFilesName :: Destination file already exist.";
        const QString oOldFileName = oldFileName(oFilePath, runStamp);
        LOG_UPDATER(INFO) << "CDefaultLibrary::addOldSuffixToFilesName :: oOldFileName=" << oOldFileName;
        if (!QFile::rename(oFilePath, oOldFileName)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::addOldSuffixToFilesName :: Old destination file can't be renamed.";
            return false;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::addOldSuffixToFilesName :: Old destination file renamed.";
    }
    return true;
}

bool CDefaultLibrary::copyNewFiles(QDir unpackDir, QStringList relativePaths)
{
    for (const QString& oFilePath : relativePaths) {
        LOG_UPDATER(INFO) << "CDefaultLibrary::copyNewFiles :: oFilePath=" << oFilePath;
        const QString oSrcFilePath = unpackDir.absoluteFilePath(oFilePath);
        LOG_UPDATER(INFO) << "CDefaultLibrary::copyNewFiles :: oSrcFilePath=" << oSrcFilePath;
        const QString oFinalDestDirPath = QFileInfo(oFilePath).absoluteDir().absolutePath();
        LOG_UPDATER(INFO) << "CDefaultLibrary::copyNewFiles :: oFinalDestDirPath=" << oFinalDestDirPath;
        QDir().mkpath(oFinalDestDirPath);

        if (!QFile::copy(oSrcFilePath, oFilePath)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: Can't copy file to destination folder.";
            return false;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file copied to destination folder.";

        if (!QFile::setPermissions(oFilePath, InstalledFilePermissions)) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::copyNewFiles :: Can't set proper permissions to destination file.";
            return false;
        }
        LOG_UPDATER(NOTICE) << "CDefaultLibrary::copyNewFiles :: Temporary file's permission changed.";
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
        const QFileInfo oldFile(oOldFileName);
        if (!oldFile.exists() && !oldFile.isSymLink())
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

void CDefaultLibrary::tryRemoveAllOldFiles()
{
    const QDir directory = QDir::current();
    LOG_UPDATER(INFO) << "CDefaultLibrary::tryRemoveAllOldFiles :: directory.absolutePath()=" << directory.absolutePath();
    removeFiles(createListOfOldFilesInDirectoryRecursive(directory));
}

QStringList CDefaultLibrary::createListOfOldFilesInDirectoryRecursive(QDir directory)
{
    const QStringList paths = findFilesRecursive(directory, oldFileFilters());
    LOG_UPDATER(INFO) << "CDefaultLibrary::createListOfOldFilesInDirectoryRecursive :: Found <" << paths.size()
                      << "> old files";
    return paths;
}
