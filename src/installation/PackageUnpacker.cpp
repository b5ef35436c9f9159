#include "PackageUnpacker.h"

#include "FilePlatform.h"
#include "module/FaultInjection.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QVector>

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

QString zipErrorText(int error)
{
    return error == UNZ_CRCERROR ? QStringLiteral("checksum mismatch (damaged archive)")
                                 : QStringLiteral("zip error %1").arg(error);
}

} // namespace

PackageUnpacker::PackageUnpacker(const QString& packagePath)
    : m_packagePath(packagePath)
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
// The archive is read from memory (the package file mapped, or read whole):
// the zip reader seeks for every entry, which on a file would cost system
// calls for each entry in each worker.
bool PackageUnpacker::unpack(const QString& destination, QStringList* paths)
{
    paths->clear();
    QFile package(m_packagePath);
    if (!package.open(QIODevice::ReadOnly))
        return fail(QString(), QStringLiteral("the archive cannot be opened (%1)").arg(package.errorString()));
    if (package.size() > std::numeric_limits<int>::max())
        return fail(QString(), QStringLiteral("the archive is too large to be read"));
    QByteArray archive;
    if (const uchar* mapped = package.size() > 0 ? package.map(0, package.size()) : nullptr)
        archive = QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), int(package.size()));
    else
        archive = package.readAll();

    QVector<QString> names;
    bool hasLinks = false;
    {
        QBuffer device(&archive);
        QuaZip zip(&device);
        if (!zip.open(QuaZip::mdUnzip))
            return fail(QString(), QStringLiteral("the archive cannot be opened (error %1)").arg(zip.getZipError()));
        for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
            QuaZipFileInfo64 info;
            if (!zip.getCurrentFileInfo(&info))
                break;
            names.append(info.name);
            hasLinks = hasLinks || info.isSymbolicLink();
        }
        if (zip.getZipError() != UNZ_OK)
            return fail(QString(), QStringLiteral("the entry list cannot be read (error %1)").arg(zip.getZipError()));
    }
    if (names.isEmpty())
        return fail(QString(), QStringLiteral("the archive holds no entries"));

    const int workers = hasLinks || names.size() < MinEntriesPerWorker * 2
                            ? 1
                            : qBound(1, QThread::idealThreadCount(), MaxWorkers);
    QVector<Worker> results(workers);
    std::atomic<bool> stop(false);
    if (workers == 1) {
        results[0] = unpackEntries(archive, destination, 0, 1, &stop);
    } else {
        std::vector<std::thread> threads;
        for (int k = 0; k < workers; ++k) {
            try {
                threads.emplace_back([&, k] { results[k] = unpackEntries(archive, destination, k, workers, &stop); });
            } catch (const std::system_error&) {
                // No thread to be had: this share is unpacked here.
                results[k] = unpackEntries(archive, destination, k, workers, &stop);
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
    for (const QString& name : qAsConst(names))
        paths->append(root.absoluteFilePath(name));
    return true;
}

// Unpacks the entries whose index is `first` plus a multiple of `step`.
PackageUnpacker::Worker PackageUnpacker::unpackEntries(QByteArray archive, const QString& destination, int first,
                                                       int step, std::atomic<bool>* stop) const
{
    Worker result;
    auto failed = [&result, stop](int index, const QString& entry, const QString& reason) {
        result.failedIndex = index;
        result.failedEntry = entry;
        result.reason = reason;
        stop->store(true);
        return result;
    };

    QBuffer device(&archive);
    QuaZip zip(&device);
    if (!zip.open(QuaZip::mdUnzip))
        return failed(-1, QString(), QStringLiteral("the archive cannot be opened (error %1)").arg(zip.getZipError()));
    const QDir root(destination);
    QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
    QSet<QString> folders; // made or found already
    folders.insert(root.absolutePath());
    int index = 0;
    for (bool more = zip.goToFirstFile(); more && !stop->load(); more = zip.goToNextFile(), ++index) {
        if (index % step != first)
            continue;
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info))
            return failed(index, QString(),
                          QStringLiteral("the entry list cannot be read (error %1)").arg(zip.getZipError()));
        const QString& name = info.name;
        const QString path = root.absoluteFilePath(name);

        if (name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\'))) {
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

        QuaZipFile entry(&zip);
        if (!entry.open(QIODevice::ReadOnly))
            return failed(index, name,
                          QStringLiteral("the entry cannot be read (%1)").arg(zipErrorText(entry.getZipError())));

        if (info.isSymbolicLink()) {
            const QByteArray target = entry.readAll();
            entry.close();
            if (entry.getZipError() != UNZ_OK)
                return failed(index, name, zipErrorText(entry.getZipError()));
            if (!QFile::link(QFile::decodeName(target), path))
                return failed(index, name, QStringLiteral("the symbolic link cannot be created"));
            UPDATER_FAULT_POINT("install.unpack");
            continue;
        }

        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return failed(index, name, file.errorString());
        qint64 written = 0;
        for (;;) {
            const qint64 got = entry.read(buffer.data(), ChunkSize);
            if (got < 0)
                return failed(index, name,
                              QStringLiteral("the entry cannot be read (%1)").arg(zipErrorText(entry.getZipError())));
            if (got == 0)
                break;
            // A write that stops short is repeated for the rest, so that the
            // system's reason (a full disk, say) gets reported.
            for (qint64 done = 0; done < got;) {
                const qint64 put = file.write(buffer.constData() + done, got - done);
                if (put <= 0)
                    return failed(index, name, file.errorString());
                done += put;
            }
            written += got;
        }
        entry.close();
        if (entry.getZipError() != UNZ_OK)
            return failed(index, name, zipErrorText(entry.getZipError()));
        if (!file.flush())
            return failed(index, name, file.errorString());
        file.close();
        if (file.error() != QFileDevice::NoError)
            return failed(index, name, file.errorString());
        if (written != qint64(info.uncompressedSize) || QFileInfo(path).size() != written)
            return failed(index, name,
                          QStringLiteral("unpacked %1 of %2 bytes").arg(written).arg(info.uncompressedSize));
        UPDATER_FAULT_POINT("install.unpack");
    }
    if (!stop->load() && zip.getZipError() != UNZ_OK)
        return failed(index, QString(), QStringLiteral("the entry list cannot be read (error %1)").arg(zip.getZipError()));
    return result;
}

bool PackageUnpacker::replaceLinksByCopies(const QStringList& paths)
{
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
