#include "PackageUnpacker.h"

#include "FilePlatform.h"
#include "module/FaultInjection.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace {

// Large enough to keep the system calls few, small enough to stay in the
// allocator's ordinary arenas.
const qint64 ChunkSize = 64 * 1024;

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

bool PackageUnpacker::unpack(const QString& destination, QStringList* paths)
{
    paths->clear();
    QuaZip zip(m_packagePath);
    if (!zip.open(QuaZip::mdUnzip))
        return fail(QString(), QStringLiteral("the archive cannot be opened (error %1)").arg(zip.getZipError()));

    const QDir root(destination);
    QByteArray buffer(int(ChunkSize), Qt::Uninitialized);
    QSet<QString> folders; // made or found already
    folders.insert(root.absolutePath());
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info))
            return fail(QString(), QStringLiteral("the entry list cannot be read (error %1)").arg(zip.getZipError()));
        const QString& name = info.name;
        const QString path = root.absoluteFilePath(name);

        if (name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\'))) {
            if (!QDir().mkpath(path))
                return fail(name, QStringLiteral("the folder cannot be created"));
            paths->append(path);
            continue;
        }

        const QString parent = QFileInfo(path).absolutePath();
        if (!folders.contains(parent)) {
            if (!QDir().mkpath(parent))
                return fail(name, QStringLiteral("its folder cannot be created"));
            folders.insert(parent);
        }

        QuaZipFile entry(&zip);
        if (!entry.open(QIODevice::ReadOnly))
            return fail(name, QStringLiteral("the entry cannot be read (%1)").arg(zipErrorText(entry.getZipError())));

        if (info.isSymbolicLink()) {
            const QByteArray target = entry.readAll();
            entry.close();
            if (entry.getZipError() != UNZ_OK)
                return fail(name, zipErrorText(entry.getZipError()));
            if (!QFile::link(QFile::decodeName(target), path))
                return fail(name, QStringLiteral("the symbolic link cannot be created"));
            paths->append(path);
            UPDATER_FAULT_POINT("install.unpack");
            continue;
        }

        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            return fail(name, file.errorString());
        qint64 written = 0;
        for (;;) {
            const qint64 got = entry.read(buffer.data(), ChunkSize);
            if (got < 0)
                return fail(name, QStringLiteral("the entry cannot be read (%1)").arg(zipErrorText(entry.getZipError())));
            if (got == 0)
                break;
            // A write that stops short is repeated for the rest, so that the
            // system's reason (a full disk, say) gets reported.
            for (qint64 done = 0; done < got;) {
                const qint64 put = file.write(buffer.constData() + done, got - done);
                if (put <= 0)
                    return fail(name, file.errorString());
                done += put;
            }
            written += got;
        }
        entry.close();
        if (entry.getZipError() != UNZ_OK)
            return fail(name, zipErrorText(entry.getZipError()));
        if (!file.flush())
            return fail(name, file.errorString());
        file.close();
        if (file.error() != QFileDevice::NoError)
            return fail(name, file.errorString());
        if (written != qint64(info.uncompressedSize) || QFileInfo(path).size() != written)
            return fail(name, QStringLiteral("unpacked %1 of %2 bytes").arg(written).arg(info.uncompressedSize));
        paths->append(path);
        UPDATER_FAULT_POINT("install.unpack");
    }
    if (zip.getZipError() != UNZ_OK)
        return fail(QString(), QStringLiteral("the entry list cannot be read (error %1)").arg(zip.getZipError()));
    if (paths->isEmpty())
        return fail(QString(), QStringLiteral("the archive holds no entries"));
    return true;
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
