// Unpacking a verified package below "UPDATES", under the installation
// folder's lock.

#include "controller/CDefaultLibrary.h"

#include "PackageEntryCheck.h"
#include "PackageIndex.h"
#include "PackageRoomCheck.h"
#include "PackageUnpacker.h"
#include "InstallationTransaction.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

#include <QDateTime>
#include <QFileInfo>

namespace {

void logRefusedEntry(const PackageEntryCheck& check)
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Package entry refused: " << check.refusedEntry()
                      << " (" << check.errorString() << ")";
}

void logNoPermissionsToUnzip(const QString& path)
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: No permissions to unzip to " << path << "!";
}

// Before anything is written: a package of too many entries or too many
// bytes is refused, and so is one that would fill the disk. An archive that
// cannot be read is left to the entry check to report.
bool packageFits(const PackageIndex& index, const QDir& installDir)
{
    PackageRoomCheck room(index);
    if (room.fits(installDir))
        return true;
    LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Package refused: " << room.errorString() << ".";
    // Nothing was made: the folder it would have been unpacked into.
    logNoPermissionsToUnzip(installDir.absoluteFilePath(QStringLiteral("%1/%2")
                                                            .arg(QLatin1String(UpdatesFolder::Name))
                                                            .arg(QDateTime::currentMSecsSinceEpoch())));
    return false;
}

} // namespace

bool CDefaultLibrary::replaceFileByUpdateType()
{
    const QString tmpPackageFilePath = m_packageFile.path();
    LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: tmpPackageFilePath=" << tmpPackageFilePath;

    const QDir installDir = QDir::current();
    // The entry list, read once for every check and for the unpacking.
    PackageIndex index(tmpPackageFilePath);
    const bool indexRead = index.read(PackageRoomCheck::MaxEntries);
    if (indexRead && !packageFits(index, installDir))
        return false;
    m_transaction.reset(new InstallationTransaction(installDir));
    InstallationTransaction& transaction = *m_transaction;
    UpdatesFolder& updates = transaction.updatesFolder();
    const InstallationTransaction::FolderCheck folder = transaction.openUpdatesFolder(true);
    if (folder != InstallationTransaction::FolderCheck::Ready) {
        const QString oTimestampPath = updates.pathOf(QString::number(QDateTime::currentMSecsSinceEpoch()));
        LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oTimestampPath=" << oTimestampPath;
        if (folder == InstallationTransaction::FolderCheck::CannotCreate)
            LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The folder " << updates.path()
                              << " cannot be created: no permission to write into " << installDir.absolutePath()
                              << " (" << transaction.errorString() << ").";
        logNoPermissionsToUnzip(oTimestampPath);
        return false;
    }
    if (!lockInstallationFolder())
        return false;
    UPDATER_FAULT_POINT("install.locked");
    transaction.recover();

    // The run stamp names a fresh folder: should one of that name (or its
    // journal) be left from a run in the same millisecond, the next free
    // stamp is taken.
    const bool unpackFolderMade = transaction.createUnpackFolder();
    const QString oTimestampPath = transaction.unpackPath();
    LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oTimestampPath=" << oTimestampPath;
    if (!unpackFolderMade) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The unpack folder " << oTimestampPath
                          << " cannot be created: no permission to write into " << updates.path() << " ("
                          << transaction.errorString() << ").";
        logNoPermissionsToUnzip(oTimestampPath);
        return false;
    }

    bool result = false;
    PackageEntryCheck entryCheck;
    const PackageEntryCheck::Outcome entries =
        indexRead ? entryCheck.check(index, installDir) : PackageEntryCheck::Unreadable;
    if (entries == PackageEntryCheck::Refused) {
        logRefusedEntry(entryCheck);
    } else if (entries == PackageEntryCheck::Unreadable) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The package is not a readable zip archive.";
        logNoPermissionsToUnzip(oTimestampPath);
    } else {
        PackageUnpacker unpacker(index, entryCheck);
        QStringList oFilePathsList;
        if (!unpacker.unpack(transaction.unpackFolder(), oTimestampPath, &oFilePathsList)) {
            if (unpacker.failedEntry().isEmpty())
                LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: The package cannot be unpacked: "
                                  << unpacker.errorString() << ".";
            else
                LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Package entry "
                                  << unpacker.failedEntry() << " cannot be unpacked: " << unpacker.errorString() << ".";
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
    }

    if (transaction.removeUnpackFolder())
        LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: Temporary updates files in UPDATES directory "
                             "removed";
    else
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Can't remove temporary updates files in "
                             "UPDATES directory";
    UPDATER_FAULT_POINT("install.unpack-folder-removed");
    return result;
}
