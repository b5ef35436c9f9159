// Unpacking a verified package below "UPDATES".

#include "controller/CDefaultLibrary.h"

#include "PackageEntryCheck.h"
#include "logging/Log.h"

#include <quazip/JlCompress.h>

#include <QDateTime>
#include <QFileInfo>

namespace {

const char* const UpdatesFolderName = "UPDATES";

void logRefusedEntry(const PackageEntryCheck& check)
{
    LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Package entry refused: " << check.refusedEntry()
                      << " (" << check.reason() << ")";
}

} // namespace

bool CDefaultLibrary::replaceFileByUpdateType()
{
    const QString tmpPackageFilePath = m_tempFile.fileName();
    LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: tmpPackageFilePath=" << tmpPackageFilePath;

    QDir unpackDir = QDir::current();
    const QString updatesName = QString::fromLatin1(UpdatesFolderName);
    if (!unpackDir.exists(updatesName))
        unpackDir.mkdir(updatesName);
    bool entered = unpackDir.cd(updatesName);

    // The run stamp names a fresh folder: should one of that name be left
    // from a run in the same millisecond, the next free stamp is taken.
    qint64 runStamp = QDateTime::currentMSecsSinceEpoch();
    if (entered) {
        while (unpackDir.exists(QString::number(runStamp)))
            ++runStamp;
    }
    const QString runStampName = QString::number(runStamp);
    const QString oTimestampPath =
        QDir::current().absoluteFilePath(updatesName + QLatin1Char('/') + runStampName);
    entered = entered && unpackDir.mkdir(runStampName) && unpackDir.cd(runStampName);
    LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oTimestampPath=" << oTimestampPath;
    if (!entered) {
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: No permissions to unzip to "
                          << oTimestampPath << "!";
        return false;
    }

    bool result = false;
    PackageEntryCheck entryCheck(tmpPackageFilePath);
    const PackageEntryCheck::Outcome entries = entryCheck.check(QDir::current());
    if (entries == PackageEntryCheck::Refused) {
        logRefusedEntry(entryCheck);
    } else {
        const QStringList oFilePathsList =
            entries == PackageEntryCheck::Accepted ? JlCompress::extractDir(tmpPackageFilePath, oTimestampPath)
                                                   : QStringList();
        if (oFilePathsList.isEmpty()) {
            LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: No permissions to unzip to "
                              << oTimestampPath << "!";
        } else if (entryCheck.checkUnpackedLinks(unpackDir) != PackageEntryCheck::Accepted) {
            logRefusedEntry(entryCheck);
        } else {
            LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oFilePathsList.size()="
                              << oFilePathsList.size();
            for (const QString& oFilePath : oFilePathsList)
                LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: oFilePath=" << oFilePath;
            result = replaceFiles(unpackDir, oFilePathsList);
        }
    }

    if (QDir(oTimestampPath).removeRecursively())
        LOG_UPDATER(INFO) << "CDefaultLibrary::replaceFileByUpdateType :: Temporary updates files in UPDATES directory "
                             "removed";
    else
        LOG_UPDATER(WARN) << "CDefaultLibrary::replaceFileByUpdateType :: Can't remove temporary updates files in "
                             "UPDATES directory";
    return result;
}
