#include "PackageIndex.h"

#include "PackageFileDevice.h"

#include <quazip/quazip.h>
#include <quazip/quazipfileinfo.h>

#include <QTextCodec>

PackageIndex::PackageIndex(const QString& packagePath)
    : m_packagePath(packagePath)
{
}

bool PackageIndex::read(int maxEntries)
{
    m_entries.clear();
    m_hasLinks = false;
    m_truncated = false;
    PackageFileDevice device(m_packagePath);
    QuaZip zip(&device);
    if (!zip.open(QuaZip::mdUnzip)) {
        m_reason = QStringLiteral("the archive cannot be opened (error %1)").arg(zip.getZipError());
        return false;
    }
    unzFile file = zip.getUnzFile();
    QTextCodec* codec = zip.getFileNameCodec();
    // Names fit this in all but odd packages, which take a second call.
    QByteArray name(1024, Qt::Uninitialized);
    int error = unzGoToFirstFile(file);
    while (error == UNZ_OK) {
        if (m_entries.size() > maxEntries) {
            m_truncated = true;
            break;
        }
        unz_file_info64 info;
        name.resize(name.capacity());
        error = unzGetCurrentFileInfo64(file, &info, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0);
        if (error == UNZ_OK && info.size_filename > uLong(name.size())) {
            name.resize(int(info.size_filename));
            error = unzGetCurrentFileInfo64(file, nullptr, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0);
        }
        if (error != UNZ_OK)
            break;
        name.resize(int(info.size_filename));
        Entry entry;
        entry.name = (info.flag & UNZ_ENCODING_UTF8) ? QString::fromUtf8(name) : codec->toUnicode(name);
        entry.isDirectory = entry.name.endsWith(QLatin1Char('/')) || entry.name.endsWith(QLatin1Char('\\'));
        // The library's own reading of the attributes.
        QuaZipFileInfo64 attributes;
        attributes.externalAttr = info.external_fa;
        entry.isLink = !entry.isDirectory && attributes.isSymbolicLink();
        entry.uncompressedSize = info.uncompressed_size;
        entry.compressedSize = info.compressed_size;
        error = unzGetFilePos64(file, &entry.position);
        if (error != UNZ_OK)
            break;
        m_hasLinks = m_hasLinks || entry.isLink;
        m_entries.append(entry);
        error = unzGoToNextFile(file);
        if (endsUncountedList(file, m_entries.size(), error))
            error = UNZ_END_OF_LIST_OF_FILE;
    }
    zip.close();
    if (error != UNZ_OK && error != UNZ_END_OF_LIST_OF_FILE && !m_truncated) {
        m_reason = QStringLiteral("the entry list cannot be read (error %1)").arg(error);
        return false;
    }
    return true;
}

bool PackageIndex::endsUncountedList(unzFile file, qint64 entriesRead, int error)
{
    const quint64 Uncounted = 0xFFFF;
    unz_global_info64 global;
    return error == UNZ_BADZIPFILE && entriesRead % 65536 == qint64(Uncounted)
           && unzGetGlobalInfo64(file, &global) == UNZ_OK && global.number_entry == Uncounted;
}

bool PackageIndex::readLinkTarget(int index, int maxSize, QByteArray* target) const
{
    PackageFileDevice device(m_packagePath);
    QuaZip zip(&device);
    if (!zip.open(QuaZip::mdUnzip))
        return false;
    unzFile file = zip.getUnzFile();
    target->resize(maxSize + 1);
    bool read = false;
    if (unzGoToFilePos64(file, &m_entries.at(index).position) == UNZ_OK && unzOpenCurrentFile(file) == UNZ_OK) {
        int got = 0;
        int total = 0;
        while (total < target->size()
               && (got = unzReadCurrentFile(file, target->data() + total, unsigned(target->size() - total))) > 0)
            total += got;
        read = got >= 0;
        target->resize(total);
        if (unzCloseCurrentFile(file) != UNZ_OK && total <= maxSize)
            read = false;
    }
    zip.close();
    return read;
}
