#include "PackageRoomCheck.h"

#include <QFileInfo>
#include <QStorageInfo>

#include "PackageIndex.h"
#include "InstallPathRules.h"

PackageRoomCheck::PackageRoomCheck(const PackageIndex& index)
{
    for (const PackageIndex::Entry& entry : index.entries()) {
        ++m_entries;
        const qint64 size = qint64(qMin<quint64>(entry.uncompressedSize, quint64(MaxUnpackedSize) * 2));
        m_unpackedSize += size;
        if (entry.isDirectory || entry.isLink)
            ++m_folders;
        else
            m_fileSizes.append(size);
    }
}

QString PackageRoomCheck::limitsProblem(qint64 entries, qint64 unpackedSize)
{
    if (entries > MaxEntries)
        return QStringLiteral("the package holds more than %1 entries, the most that is unpacked").arg(MaxEntries);
    if (unpackedSize > MaxUnpackedSize)
        return QStringLiteral("the package unpacks to %1 bytes, more than the %2 bytes that are unpacked")
            .arg(unpackedSize)
            .arg(MaxUnpackedSize);
    return QString();
}

qint64 PackageRoomCheck::neededRoom(qint64 blockSize) const
{
    const qint64 block = blockSize > 0 ? blockSize : 4096;
    qint64 room = m_folders * block;
    for (const qint64 size : m_fileSizes)
        room += (size + block - 1) / block * block;
    return room + qMax(room * MarginPercent / 100, MinMarginBytes);
}

bool PackageRoomCheck::fitsOn(const QString& path)
{
    const QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady())
        return true; // nothing known: the unpacking reports a full disk
    const qint64 needed = neededRoom(storage.blockSize());
    const qint64 available = storage.bytesAvailable();
    if (needed <= available)
        return true;
    m_reason = QStringLiteral("not enough room to unpack the package: it needs %1 bytes for %2 %3 of %4 bytes "
                              "(in blocks of %5 bytes, with a margin of %6 %, at least %7 bytes), and %8 has %9 "
                              "bytes free")
                   .arg(needed)
                   .arg(m_entries)
                   .arg(QLatin1String(m_entries == 1 ? "entry" : "entries"))
                   .arg(m_unpackedSize)
                   .arg(storage.blockSize())
                   .arg(MarginPercent)
                   .arg(MinMarginBytes)
                   .arg(path)
                   .arg(available);
    return false;
}

bool PackageRoomCheck::fits(const QDir& installDir)
{
    m_reason = limitsProblem(m_entries, m_unpackedSize);
    if (!m_reason.isEmpty())
        return false;
    // The unpack folder is on the file system of UPDATES, or of the
    // installation folder before UPDATES exists. Where UPDATES is a file
    // system of its own, the files are copied into the installation folder
    // and need room there too.
    // Nothing is looked up through an UPDATES that is a symbolic link: the
    // installation refuses such a folder anyway.
    const QFileInfo updates(installDir.absoluteFilePath(QLatin1String(InstallPathRules::UpdatesFolderName)));
    const QString unpackPath =
        updates.isDir() && !updates.isSymLink() ? updates.absoluteFilePath() : installDir.absolutePath();
    if (!fitsOn(unpackPath))
        return false;
    if (QStorageInfo(unpackPath).rootPath() != QStorageInfo(installDir.absolutePath()).rootPath())
        return fitsOn(installDir.absolutePath());
    return true;
}
