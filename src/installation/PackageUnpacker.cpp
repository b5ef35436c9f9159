#include "PackageUnpacker.h"

#include "FilePlatform.h"
#include "module/FaultInjection.h"

#include "PackageFileDevice.h"

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
#include <system_error>
#include <thread>
#include <vector>

namespace {

// Large enough to keep the system calls few, small enough to stay in the
// allocator's ordinary arenas.
const qint64 ChunkSize = 64 * 1024;
// Workers side by side, and the entries a worker should have at least.
const int MaxWorkers = 4;
const int MinEntriesPerWorker = 32;
// What making a file costs, counted in bytes written, for sharing the work.
const qint64 FileCreationCost = 64 * 1024;

QString zipErrorText(int error)
{
    return error == UNZ_CRCERROR ? QStringLiteral("checksum mismatch (damaged archive)")
                                 : QStringLiteral("zip error %1").arg(error);
}

} // namespace

PackageUnpacker::PackageUnpacker(const PackageIndex& index)
    : m_index(index)
{
}

QString PackageUnpacker::failedEntry() const
{
    return m_failedEntry;
}

QString PackageUnpacker::reason() const
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
// archive, unpack every n-th entry side by side. A package with symbolic
// links is unpacked in archive order by one worker, since an entry may be
// written through a link that an earlier entry makes.
//
// Each worker goes straight to its entries by their places in the archive,
// known from the entry list, and reads the archive through a window of its
// own: the archive is never held in memory whole.
bool PackageUnpacker::unpack(const QString& destination, QStringList* paths)
{
    paths->clear();
    const QVector<PackageIndex::Entry>& entries = m_index.entries();
    if (entries.isEmpty())
        return fail(QString(), QStringLiteral("the archive holds no entries"));

    const int workers = m_index.hasLinks() || entries.size() < MinEntriesPerWorker * 2
                            ? 1
                            : qBound(1, QThread::idealThreadCount(), MaxWorkers);
    const QVector<QVector<int>> shares = shareOut(workers);
    QVector<Worker> results(shares.size());
    std::atomic<bool> stop(false);
    if (shares.size() == 1) {
        results[0] = unpackEntries(destination, shares.at(0), &stop);
    } else {
        std::vector<std::thread> threads;
        for (int k = 0; k < shares.size(); ++k) {
            try {
                threads.emplace_back([&, k] { results[k] = unpackEntries(destination, shares.at(k), &stop); });
            } catch (const std::system_error&) {
                // No thread to be had: this share is unpacked here.
                results[k] = unpackEntries(destination, shares.at(k), &stop);
            }
        }
        for (std::thread& thread : threads)
            thread.join();
    }

    // The failure of the earliest entry is the one reported.
    const Worker* failed = nullptr;
    for (const Worker& result : qAsConst(results)) {
        if (!result.reason.isEmpty() && (!failed || result.failedIndex < failed->failedIndex))
            failed = &result;
    }
    if (failed)
        return fail(failed->failedEntry, failed->reason);
    const QDir root(destination);
    paths->reserve(entries.size());
    for (const PackageIndex::Entry& entry : entries)
        paths->append(root.absoluteFilePath(entry.name));
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
PackageUnpacker::Worker PackageUnpacker::unpackEntries(const QString& destination, const QVector<int>& share,
                                                       std::atomic<bool>* stop) const
{
    Worker result;
    auto failed = [&result, stop](int index, const QString& entry, const QString& reason) {
        result.failedIndex = index;
        result.failedEntry = entry;
        result.reason = reason;
        stop->store(true);
        return result;
    };

    PackageFileDevice device(m_index.packagePath());
    QuaZip zip(&device);
    if (!zip.open(QuaZip::mdUnzip))
        return failed(-1, QString(), QStringLiteral("the archive cannot be opened (error %1)").arg(zip.getZipError()));
    unzFile archive = zip.getUnzFile();
    const QDir root(destination);
    QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
    QSet<QString> folders; // made or found already
    folders.insert(root.absolutePath());
    const QVector<PackageIndex::Entry>& entries = m_index.entries();
    for (int index : share) {
        if (stop->load())
            break;
        const PackageIndex::Entry& entry = entries.at(index);
        const QString& name = entry.name;
        const QString path = root.absoluteFilePath(name);

        if (entry.isDirectory) {
            if (!QDir().mkpath(path))
                return failed(index, name, QStringLiteral("the folder cannot be created"));
            continue;
        }

        const QString parent = QFileInfo(path).absolutePath();
        if (!folders.contains(parent)) {
            if (!QDir().mkpath(parent))
                return failed(index, name, QStringLiteral("its folder cannot be created"));
            folders.insert(parent);
        }

        int error = unzGoToFilePos64(archive, &entry.position);
        if (error == UNZ_OK)
            error = unzOpenCurrentFile(archive);
        if (error != UNZ_OK)
            return failed(index, name, QStringLiteral("the entry cannot be read (%1)").arg(zipErrorText(error)));

        if (entry.isLink) {
            QByteArray target;
            int got = 0;
            while ((got = unzReadCurrentFile(archive, buffer.data(), unsigned(buffer.size()))) > 0)
                target.append(buffer.constData(), got);
            error = unzCloseCurrentFile(archive);
            if (got < 0 || error != UNZ_OK)
                return failed(index, name, zipErrorText(got < 0 ? got : error));
            if (!QFile::link(QFile::decodeName(target), path))
                return failed(index, name, QStringLiteral("the symbolic link cannot be created"));
            UPDATER_FAULT_POINT("install.unpack");
            continue;
        }

        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
            unzCloseCurrentFile(archive);
            return failed(index, name, file.errorString());
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
        }
        error = unzCloseCurrentFile(archive);
        if (error != UNZ_OK)
            return failed(index, name, zipErrorText(error));
        // On the open file, while other workers do the same for theirs,
        // rather than by path when the file is moved into place.
        if (!file.setPermissions(InstalledFilePermissions))
            return failed(index, name, QStringLiteral("its permissions cannot be set (%1)").arg(file.errorString()));
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

bool PackageUnpacker::replaceLinksByCopies(const QStringList& paths)
{
    if (!m_index.hasLinks())
        return true;
    int copies = 0;
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.isSymLink() || !info.isFile())
            continue;
        const QString copy = info.absolutePath() + QStringLiteral("/.link-copy-") + QString::number(++copies);
        QFile::remove(copy);
        if (!QFile::copy(path, copy) || !FilePlatform::replaceFile(copy, path)) {
            QFile::remove(copy);
            return fail(QDir(info.absolutePath()).relativeFilePath(path),
                        QStringLiteral("the file its symbolic link names cannot be copied"));
        }
    }
    return true;
}
