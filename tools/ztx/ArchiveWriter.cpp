#include "ArchiveWriter.h"

#include "FileKind.h"
#include "OutputTarget.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <algorithm>

#include "installation/PackageRoomCheck.h"

namespace {

const qint64 CopyBlockSize = 64 * 1024;
// Links carry no permissions of their own.
const quint32 LinkMode = 0120777;

} // namespace

ArchiveWriter::ArchiveWriter(const QString& folder, const OutputTarget& output)
    : m_folder(folder)
    , m_output(output)
{
}

QString ArchiveWriter::entry() const
{
    return m_entry;
}

QString ArchiveWriter::reason() const
{
    return m_reason;
}

int ArchiveWriter::entryCount() const
{
    return m_entryCount;
}

QString ArchiveWriter::largestEntries() const
{
    QList<QPair<qint64, QString>> sizes = m_sizes;
    std::sort(sizes.begin(), sizes.end(), [](const QPair<qint64, QString>& a, const QPair<qint64, QString>& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QStringList items;
    for (int i = 0; i < sizes.size() && i < 10; ++i)
        items << QStringLiteral("%1 (%2 bytes)").arg(sizes.at(i).second).arg(sizes.at(i).first);
    return items.join(QStringLiteral(", "));
}

bool ArchiveWriter::leftOutOutput() const
{
    return m_leftOutOutput;
}

ArchiveWriter::Outcome ArchiveWriter::stop(Outcome outcome, const QString& entry, const QString& reason)
{
    m_entry = entry;
    m_reason = reason;
    return outcome;
}

ArchiveWriter::Outcome ArchiveWriter::write(const QString& archivePath, qint64 sizeLimit)
{
    m_entryCount = 0;
    m_leftOutOutput = false;
    // Walked from the folder's real path, so that links given with an
    // absolute target inside the folder come out relative.
    const QString root = QFileInfo(m_folder).canonicalFilePath();
    if (root.isEmpty() || !QFileInfo(root).isDir())
        return stop(Failed, QString(), QStringLiteral("%1 is not a folder").arg(m_folder));
    const QDir rootDir(root);

    QStringList names;
    QDirIterator walk(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (walk.hasNext())
        names << rootDir.relativeFilePath(walk.next());
    names.sort();

    // What clients would unpack, from the folder itself.
    m_sizes.clear();
    qint64 unpackedSize = 0;
    for (const QString& name : qAsConst(names)) {
        const QFileInfo info(rootDir.filePath(name));
        if (info.isFile() && !info.isSymLink() && !m_output.isAt(info.filePath())) {
            m_sizes.append({info.size(), name});
            unpackedSize += info.size();
        }
    }
    const QString limits = PackageRoomCheck::limitsProblem(names.size(), unpackedSize);
    if (!limits.isEmpty())
        return stop(Refused, QString(),
                    QStringLiteral("%1: %2; the largest: %3").arg(m_folder, limits, largestEntries()));

    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdCreate))
        return stop(Failed, QString(), QStringLiteral("cannot create the archive (error %1)").arg(zip.getZipError()));

    for (const QString& name : qAsConst(names)) {
        const QString path = rootDir.filePath(name);
        const QFileInfo info(path);
        if (m_output.isAt(path)) {
            m_leftOutOutput = true;
            continue;
        }

        QuaZipNewInfo entryInfo(name);
        QByteArray linkTarget;
        bool isFile = false;
        if (info.isSymLink()) {
            // symLinkTarget() gives the target as an absolute, cleaned path.
            const QString target = info.symLinkTarget();
            if (target.isEmpty())
                return stop(Failed, name, QStringLiteral("the symbolic link cannot be read"));
            linkTarget = QFile::encodeName(QDir(info.absolutePath()).relativeFilePath(target));
            const QDateTime modified = info.lastModified();
            entryInfo.dateTime = modified.isValid() ? modified : QDateTime::currentDateTime();
            entryInfo.externalAttr = LinkMode << 16;
        } else if (info.isDir()) {
            // The walk skips what it cannot read without a word.
            if (!info.isReadable() || !info.isExecutable())
                return stop(Failed, name, QStringLiteral("cannot read the folder"));
            entryInfo = QuaZipNewInfo(name + QLatin1Char('/'), path);
        } else if (info.isFile()) {
            entryInfo = QuaZipNewInfo(name, path);
            isFile = true;
        } else {
            zip.close();
            return stop(Refused, name,
                        QStringLiteral("is %1, not a regular file, folder or symbolic link").arg(FileKind::describe(path)));
        }

        QuaZipFile out(&zip);
        // Folders and links are stored; file data is deflated.
        const int method = isFile ? Z_DEFLATED : 0;
        const int level = isFile ? Z_DEFAULT_COMPRESSION : 0;
        if (!out.open(QIODevice::WriteOnly, entryInfo, nullptr, 0, method, level))
            return stop(Failed, name, QStringLiteral("cannot add it to the archive (error %1)").arg(out.getZipError()));
        if (isFile) {
            QFile in(path);
            if (!in.open(QIODevice::ReadOnly))
                return stop(Failed, name, QStringLiteral("cannot read it: %1").arg(in.errorString()));
            while (!in.atEnd()) {
                const QByteArray block = in.read(CopyBlockSize);
                if (block.isEmpty() && in.error() != QFileDevice::NoError)
                    return stop(Failed, name, QStringLiteral("cannot read it: %1").arg(in.errorString()));
                if (out.write(block) != block.size())
                    return stop(Failed, name, QStringLiteral("cannot add it to the archive"));
            }
        } else if (!linkTarget.isEmpty() && out.write(linkTarget) != linkTarget.size()) {
            return stop(Failed, name, QStringLiteral("cannot add it to the archive"));
        }
        out.close();
        if (out.getZipError() != UNZ_OK)
            return stop(Failed, name, QStringLiteral("cannot add it to the archive (error %1)").arg(out.getZipError()));
        ++m_entryCount;

        // No need to compress the rest of a tree that is already too large.
        if (QFileInfo(archivePath).size() > sizeLimit) {
            zip.close();
            return stop(TooLarge, name,
                        QStringLiteral("the archive grew past %1 bytes when this entry was added (%2 of %3 entries)")
                            .arg(sizeLimit)
                            .arg(m_entryCount)
                            .arg(names.size()));
        }
    }
    zip.close();
    if (zip.getZipError() != UNZ_OK)
        return stop(Failed, QString(), QStringLiteral("cannot finish the archive (error %1)").arg(zip.getZipError()));
    return Written;
}
