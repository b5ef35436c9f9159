#include "PackageCheck.h"

#include "PackageContents.h"

#include <QDir>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <updater/updater.h>

#include "installation/FolderHandle.h"
#include "installation/PackageEntryCheck.h"
#include "installation/PackageIndex.h"
#include "installation/PackageRoomCheck.h"
#include "installation/PackageUnpacker.h"

PackageCheck::PackageCheck(const QString& packagePath, const PackageContents& contents)
    : m_packagePath(packagePath)
    , m_contents(contents)
{
}

QStringList PackageCheck::notes() const
{
    return m_notes;
}

bool PackageCheck::sizeAccepted(qint64 packageSize, QList<Problem>* problems)
{
    if (packageSize <= updater::MaxPackageSize)
        return true;
    problems->append({QString(),
                      QStringLiteral("the package is %1 bytes, over the limit of %2 bytes that clients accept")
                          .arg(packageSize)
                          .arg(updater::MaxPackageSize),
                      updater::FileOversized});
    return false;
}

bool PackageCheck::contentsAccepted(QList<Problem>* problems)
{
    const int fileSystemError = updater::FileSystemError;
    if (m_contents.entries().isEmpty()) {
        problems->append({QString(), QStringLiteral("the archive holds no entries"), fileSystemError});
        return false;
    }

    // Refused by every client before it looks at a name, whatever room it has.
    const QString limits = PackageRoomCheck::limitsProblem(m_contents.entries().size(), m_contents.unpackedSize());
    if (!limits.isEmpty()) {
        problems->append({QString(), limits, fileSystemError});
        return false;
    }

    // The module checks the entries against its installation folder; an
    // empty one stands in for a fresh installation.
    QTemporaryDir installDir;
    QTemporaryDir unpackDir;
    if (!installDir.isValid() || !unpackDir.isValid()) {
        problems->append({QString(), QStringLiteral("cannot create a temporary folder to check the entries in"),
                          fileSystemError});
        return false;
    }
    PackageIndex index(m_packagePath);
    PackageEntryCheck entryCheck;
    const PackageEntryCheck::Outcome outcome = index.read(PackageRoomCheck::MaxEntries)
                                                   ? entryCheck.check(index, QDir(installDir.path()))
                                                   : PackageEntryCheck::Unreadable;
    if (outcome == PackageEntryCheck::Refused) {
        problems->append({entryCheck.refusedEntry(), entryCheck.errorString(), fileSystemError});
        return false;
    }
    if (outcome == PackageEntryCheck::Unreadable) {
        problems->append({QString(), QStringLiteral("the zip library cannot read the entries"), fileSystemError});
        return false;
    }

    // Unpacked on trial as the module unpacks, unless that would fill the
    // temporary folder: the entry sizes can claim far more than the archive.
    const qint64 unpackedSize = m_contents.unpackedSize();
    const qint64 available = QStorageInfo(unpackDir.path()).bytesAvailable();
    if (available >= 0 && unpackedSize > available / 2) {
        m_notes << QStringLiteral("not unpacked on trial: the entries hold %1 bytes and %2 has %3 bytes free; "
                                  "their names and links were checked, their data was not")
                       .arg(unpackedSize)
                       .arg(QDir::tempPath())
                       .arg(available);
        return true;
    }
    PackageUnpacker unpacker(index, entryCheck);
    QStringList unpacked;
    const FolderHandle unpackFolder = FolderHandle::open(unpackDir.path());
    if (!unpackFolder.isOpen() || !unpacker.unpack(unpackFolder, unpackDir.path(), &unpacked)) {
        problems->append({unpacker.failedEntry(),
                          unpacker.failedEntry().isEmpty()
                              ? QStringLiteral("the archive cannot be unpacked: %1").arg(unpacker.errorString())
                              : QStringLiteral("cannot be unpacked: %1").arg(unpacker.errorString()),
                          fileSystemError});
        return false;
    }
    if (m_contents.count(PackageContents::Folder) == m_contents.entries().size())
        m_notes << QStringLiteral("the package holds only folders: clients install no file from it");
    return true;
}
