#include "PackageUnpacker.h"

#include "BackgroundWork.h"
#include "PackageEntryCheck.h"
#include "PackageFileDevice.h"
#include "module/FaultInjection.h"

#include <quazip/quazip.h>

#include <QDir>
#include <QHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <limits>

namespace {

// Large enough to keep the system calls few, small enough to stay in the
// allocator's ordinary arenas.
const qint64 ChunkSize = 64 * 1024;
// Workers side by side, and the entries a worker should have at least.
const int MaxWorkers = 4;
const int MinEntriesPerWorker = 32;
// What making a file costs, counted in bytes written, for sharing the work.
const qint64 FileCreationCost = 64 * 1024;

// Folders opened from a worker's handles of the destination, by their
// names below it. Most entries of a package lie in few folders; the handles
// are let go once there are many, so that a package of thousands of folders
// never holds thousands open.
const int MaxHeldFolders = 64;

QString zipErrorText(int error)
{
    return error == UNZ_CRCERROR ? QStringLiteral("checksum mismatch (damaged archive)")
                                 : QStringLiteral("zip error %1").arg(error);
}

class FolderCache
{
public:
    explicit FolderCache(const FolderHandle& root)
        : m_root(root)
    {
    }

    // The folder at the name below the destination, made when missing.
    FolderHandle folder(const QString& name)
    {
        if (name.isEmpty())
            return m_root;
        const auto held = m_folders.constFind(name);
        if (held != m_folders.constEnd())
            return *held;
        if (m_folders.size() >= MaxHeldFolders)
            m_folders.clear();
        const FolderHandle opened = m_root.openFolder(name, true);
        if (!opened.isOpen())
            m_error = opened.errorString();
        else
            m_folders.insert(name, opened);
        return opened;
    }
    QString errorString() const { return m_error; }

private:
    FolderHandle m_root;
    QHash<QString, FolderHandle> m_folders;
    QString m_error;
};

QString folderOf(const QString& name)
{
    const int slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : name.left(slash);
}

QString fileNameOf(const QString& name)
{
    return name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

PackageUnpacker::PackageUnpacker(const PackageIndex& index, const PackageEntryCheck& check)
    : m_index(index)
    , m_check(check)
{
    m_names.reserve(index.entries().size());
    for (const PackageIndex::Entry& entry : index.entries()) {
        QStringList parts = entry.name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        parts.removeAll(QStringLiteral("."));
        m_names.append(parts.join(QLatin1Char('/')));
    }
}

QString PackageUnpacker::failedEntry() const
{
    return m_failedEntry;
}

QString PackageUnpacker::errorString() const
{
    return m_reason;
}

bool PackageUnpacker::fail(const QString& entry, const QString& reason)
{
    m_failedEntry = entry;
    m_reason = reason;
    return false;
}

// Creating files is what unpacking mostly costs, and much of it is the
// kernel's own work: several workers, each with its own reader of the
// archive, unpack their shares of the entries side by side. Every entry is
// written under its own name, so the order does not matter; the copies that
// stand for links to files are made once all files are there.
//
// Each worker goes straight to its entries by their places in the archive,
// known from the entry list, and reads the archive through a window of its
// own: the archive is never held in memory whole.
bool PackageUnpacker::unpack(const FolderHandle& destination, const QString& destinationPath, QStringList* paths,
                             const std::function<void()>& tick)
{
    paths->clear();
    const QVector<PackageIndex::Entry>& entries = m_index.entries();
    if (entries.isEmpty())
        return fail(QString(), QStringLiteral("the archive holds no entries"));

    const int workers =
        entries.size() < MinEntriesPerWorker * 2 ? 1 : qBound(1, QThread::idealThreadCount(), MaxWorkers);
    const QVector<QVector<int>> shares = shareOut(workers);
    QVector<Worker> results(shares.size());
    m_stop.store(false);
    m_unpackedBytes.store(0);
    if (shares.size() == 1 && !tick) {
        results[0] = unpackEntries(destination, shares.at(0));
    } else {
        BackgroundWork work;
        for (int k = 0; k < shares.size(); ++k)
            work.start([&, k] { results[k] = unpackEntries(destination, shares.at(k)); });
        work.wait(tick);
    }
    const bool allWorked =
        std::all_of(results.cbegin(), results.cend(), [](const Worker& result) { return result.reason.isEmpty(); });
    if (m_stop.load() && allWorked)
        return fail(QString(), QStringLiteral("stopped before its end"));

    // The failure of the earliest entry is the one reported.
    const Worker* failed = nullptr;
    for (const Worker& result : qAsConst(results)) {
        if (!result.reason.isEmpty() && (!failed || result.failedIndex < failed->failedIndex))
            failed = &result;
    }
    if (failed)
        return fail(failed->failedEntry, failed->reason);
    if (m_index.hasLinks() && !copyLinkedFiles(destination))
        return false;

    const QSet<int> folderLinks = m_check.folderLinks();
    const QString root = destinationPath.endsWith(QLatin1Char('/')) ? destinationPath : destinationPath + QLatin1Char('/');
    paths->reserve(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const bool folder = entries.at(i).isDirectory || folderLinks.contains(i);
        paths->append(root + m_names.at(i) + (folder ? QStringLiteral("/") : QString()));
    }
    return true;
}

qint64 PackageUnpacker::totalBytes() const
{
    qint64 total = 0;
    for (const PackageIndex::Entry& entry : m_index.entries())
        total += qint64(entry.uncompressedSize);
    return total;
}

// Each link entry to a file of the package gets a copy of that file's data
// under its own name.
bool PackageUnpacker::copyLinkedFiles(const FolderHandle& destination)
{
    FolderCache folders(destination);
    QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
    const QHash<int, int> copies = m_check.linkCopies();
    for (auto copy = copies.constBegin(); copy != copies.constEnd(); ++copy) {
        const QString& name = m_names.at(copy.key());
        const QString& sourceName = m_names.at(copy.value());
        const QString failure = QStringLiteral("the file its symbolic link names cannot be copied (%1)");
        FolderHandle sourceFolder = folders.folder(folderOf(sourceName));
        FolderHandle targetFolder = folders.folder(folderOf(name));
        if (!sourceFolder.isOpen() || !targetFolder.isOpen())
            return fail(m_index.entries().at(copy.key()).name, failure.arg(folders.errorString()));
        QFile source;
        QFile target;
        if (!sourceFolder.openFile(source, fileNameOf(sourceName)))
            return fail(m_index.entries().at(copy.key()).name, failure.arg(sourceFolder.errorString()));
        if (!targetFolder.createFile(target, fileNameOf(name), QIODevice::WriteOnly | QIODevice::Unbuffered))
            return fail(m_index.entries().at(copy.key()).name, failure.arg(targetFolder.errorString()));
        for (qint64 got; (got = source.read(buffer.data(), buffer.size())) != 0;) {
            if (got < 0 || target.write(buffer.constData(), got) != got)
                return fail(m_index.entries().at(copy.key()).name,
                            failure.arg(got < 0 ? source.errorString() : target.errorString()));
        }
        if (!targetFolder.setPermissions(target, InstalledFilePermissions))
            return fail(m_index.entries().at(copy.key()).name, failure.arg(targetFolder.errorString()));
        target.close();
        if (target.error() != QFileDevice::NoError)
            return fail(m_index.entries().at(copy.key()).name, failure.arg(target.errorString()));
    }
    return true;
}

// The entries of each worker, in archive order. Making a file takes its
// folder's lock in the kernel (and, on ext4, the search for a free inode
// happens under it), so workers that make files in one folder side by side
// mostly wait for each other: each folder's files go to one worker, the
// largest folders first to the worker with the least bytes so far.
QVector<QVector<int>> PackageUnpacker::shareOut(int workers) const
{
    const QVector<PackageIndex::Entry>& entries = m_index.entries();
    QVector<QVector<int>> shares(workers);
    if (workers == 1) {
        shares[0].reserve(entries.size());
        for (int i = 0; i < entries.size(); ++i)
            shares[0].append(i);
        return shares;
    }
    QHash<QString, QVector<int>> byFolder;
    QHash<QString, qint64> folderCost;
    for (int i = 0; i < entries.size(); ++i) {
        const QString& name = entries.at(i).name;
        const int slash = name.lastIndexOf(QLatin1Char('/'), name.endsWith(QLatin1Char('/')) ? -2 : -1);
        const QString folder = slash < 0 ? QString() : name.left(slash);
        byFolder[folder].append(i);
        // A file costs its making as much as its bytes.
        folderCost[folder] += qint64(entries.at(i).uncompressedSize) + FileCreationCost;
    }
    QStringList folders = byFolder.keys();
    std::sort(folders.begin(), folders.end(),
              [&folderCost](const QString& a, const QString& b) { return folderCost.value(a) > folderCost.value(b); });
    QVector<qint64> load(workers, 0);
    for (const QString& folder : qAsConst(folders)) {
        const int least = int(std::min_element(load.begin(), load.end()) - load.begin());
        shares[least] += byFolder.value(folder);
        load[least] += folderCost.value(folder);
    }
    QVector<QVector<int>> used;
    for (QVector<int>& share : shares) {
        if (share.isEmpty())
            continue;
        std::sort(share.begin(), share.end());
        used.append(share);
    }
    return used;
}

// Unpacks the entries of one share.
PackageUnpacker::Worker PackageUnpacker::unpackEntries(const FolderHandle& destination, const QVector<int>& share)
{
    Worker result;
    auto failed = [this, &result](int index, const QString& entry, const QString& reason) {
        result.failedIndex = index;
        result.failedEntry = entry;
        result.reason = reason;
        m_stop.store(true);
        return result;
    };

    PackageFileDevice device(m_index.packagePath());
    QuaZip zip(&device);
    if (!zip.open(QuaZip::mdUnzip))
        return failed(-1, QString(), QStringLiteral("the archive cannot be opened (error %1)").arg(zip.getZipError()));
    unzFile archive = zip.getUnzFile();
    FolderCache folders(destination);
    QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
    const QVector<PackageIndex::Entry>& entries = m_index.entries();
    for (int index : share) {
        if (m_stop.load())
            break;
        const PackageIndex::Entry& entry = entries.at(index);
        const QString& name = entry.name;
        const QString& path = m_names.at(index);

        if (entry.isDirectory) {
            if (!folders.folder(path).isOpen())
                return failed(index, name, QStringLiteral("the folder cannot be created (%1)").arg(folders.errorString()));
            continue;
        }
        // Made from the files they stand for, once those are there.
        if (entry.isLink)
            continue;

        FolderHandle folder = folders.folder(folderOf(path));
        if (!folder.isOpen())
            return failed(index, name, QStringLiteral("its folder cannot be created (%1)").arg(folders.errorString()));

        int error = unzGoToFilePos64(archive, &entry.position);
        if (error == UNZ_OK)
            error = unzOpenCurrentFile(archive);
        if (error != UNZ_OK)
            return failed(index, name, QStringLiteral("the entry cannot be read (%1)").arg(zipErrorText(error)));

        QFile file;
        if (!folder.createFile(file, fileNameOf(path), QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            unzCloseCurrentFile(archive);
            return failed(index, name, folder.errorString());
        }
        // The zip reader stops at the size the entry claims: an entry that
        // holds more is cut there, and its checksum then fails.
        qint64 written = 0;
        for (;;) {
            const int got = unzReadCurrentFile(archive, buffer.data(), unsigned(buffer.size()));
            if (got < 0) {
                unzCloseCurrentFile(archive);
                return failed(index, name, QStringLiteral("the entry cannot be read (%1)").arg(zipErrorText(got)));
            }
            if (got == 0)
                break;
            // A write that stops short is repeated for the rest, so that the
            // system's reason (a full disk, say) gets reported.
            for (qint64 done = 0; done < got;) {
                const qint64 put = file.write(buffer.constData() + done, got - done);
                if (put <= 0) {
                    unzCloseCurrentFile(archive);
                    return failed(index, name, file.errorString());
                }
                done += put;
            }
            written += got;
            m_unpackedBytes.fetch_add(got);
        }
        error = unzCloseCurrentFile(archive);
        if (error != UNZ_OK)
            return failed(index, name, zipErrorText(error));
        // On the open file, while other workers do the same for theirs,
        // rather than by path when the file is moved into place.
        if (!folder.setPermissions(file, InstalledFilePermissions))
            return failed(index, name, QStringLiteral("its permissions cannot be set (%1)").arg(folder.errorString()));
        // Every write went to the file as it was made (unbuffered, checked):
        // what remains is the close.
        file.close();
        if (file.error() != QFileDevice::NoError)
            return failed(index, name, file.errorString());
        if (written != qint64(entry.uncompressedSize))
            return failed(index, name,
                          QStringLiteral("unpacked %1 of %2 bytes").arg(written).arg(entry.uncompressedSize));
        UPDATER_FAULT_POINT("install.unpack");
    }
    return result;
}
