#include "PackageContents.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <QFile>

#include "installation/PackageIndex.h"

namespace {

// Link targets longer than this are not links anyone means; the module's
// entry check stops reading at the same length.
const qint64 MaxLinkTargetSize = 4096;

int modeBits(QFile::Permissions permissions)
{
    const QFile::Permission bits[9] = {QFile::ReadOwner, QFile::WriteOwner, QFile::ExeOwner,
                                       QFile::ReadGroup, QFile::WriteGroup, QFile::ExeGroup,
                                       QFile::ReadOther, QFile::WriteOther, QFile::ExeOther};
    int mode = 0;
    for (const QFile::Permission bit : bits)
        mode = (mode << 1) | ((permissions & bit) ? 1 : 0);
    return mode;
}

} // namespace

bool PackageContents::read(const QString& archivePath)
{
    m_entries.clear();
    m_error.clear();
    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip)) {
        // The zip library opens no archive without entries either.
        m_error = QStringLiteral("the zip library cannot open it: not a zip archive, or one without entries (error %1)")
                      .arg(zip.getZipError());
        return false;
    }
    for (bool more = zip.goToFirstFile(); more; more = zip.goToNextFile()) {
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info)) {
            m_error = QStringLiteral("the entry list cannot be read after %1 entries").arg(m_entries.size());
            return false;
        }
        Entry entry;
        entry.name = info.name;
        entry.size = qint64(info.uncompressedSize);
        entry.compressedSize = qint64(info.compressedSize);
        entry.mode = modeBits(info.getPermissions());
        // The same reading of names and attributes as the module's entry
        // check: a trailing separator makes a folder whatever the attributes.
        if (entry.name.endsWith(QLatin1Char('/')) || entry.name.endsWith(QLatin1Char('\\'))) {
            entry.type = Folder;
        } else if (info.isSymbolicLink()) {
            entry.type = Link;
            QuaZipFile file(&zip);
            if (file.open(QIODevice::ReadOnly)) {
                entry.linkTarget = QFile::decodeName(file.read(MaxLinkTargetSize));
                file.close();
            }
        }
        m_entries.append(entry);
    }
    // An archive without entries ends the list at once; one of 65,535
    // entries ends it where the module's reader ends it too.
    const int zipError = zip.getZipError();
    if (zipError != UNZ_OK && !(m_entries.isEmpty() && zipError == UNZ_END_OF_LIST_OF_FILE)
        && !PackageIndex::endsUncountedList(zip.getUnzFile(), m_entries.size(), zipError)) {
        m_error = QStringLiteral("the entry list cannot be read after %1 entries (error %2)")
                      .arg(m_entries.size())
                      .arg(zipError);
        return false;
    }
    return true;
}

const QList<PackageContents::Entry>& PackageContents::entries() const
{
    return m_entries;
}

QString PackageContents::error() const
{
    return m_error;
}

int PackageContents::count(Type type) const
{
    int n = 0;
    for (const Entry& entry : m_entries)
        n += entry.type == type ? 1 : 0;
    return n;
}

qint64 PackageContents::unpackedSize() const
{
    qint64 total = 0;
    for (const Entry& entry : m_entries)
        total += entry.size;
    return total;
}

QString PackageContents::modeText(const Entry& entry)
{
    QString text(10, QLatin1Char('-'));
    text[0] = entry.type == Folder ? QLatin1Char('d') : entry.type == Link ? QLatin1Char('l') : QLatin1Char('-');
    const char letters[] = "rwx";
    for (int i = 0; i < 9; ++i) {
        if (entry.mode & (0400 >> i))
            text[i + 1] = QLatin1Char(letters[i % 3]);
    }
    return text;
}
