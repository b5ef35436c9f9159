#include "ZipBuilder.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipnewinfo.h>

#include <QRandomGenerator>
#include <QTemporaryFile>

#include <sys/stat.h>

namespace {

quint32 modeBits(QFile::Permissions permissions)
{
    quint32 mode = 0;
    if (permissions & (QFile::ReadOwner | QFile::ReadUser))
        mode |= 0400;
    if (permissions & (QFile::WriteOwner | QFile::WriteUser))
        mode |= 0200;
    if (permissions & (QFile::ExeOwner | QFile::ExeUser))
        mode |= 0100;
    if (permissions & QFile::ReadGroup)
        mode |= 040;
    if (permissions & QFile::WriteGroup)
        mode |= 020;
    if (permissions & QFile::ExeGroup)
        mode |= 010;
    if (permissions & QFile::ReadOther)
        mode |= 04;
    if (permissions & QFile::WriteOther)
        mode |= 02;
    if (permissions & QFile::ExeOther)
        mode |= 01;
    return mode;
}

} // namespace

ZipBuilder& ZipBuilder::file(const QString& name, const QByteArray& content, QFile::Permissions permissions)
{
    m_entries.append({name, content, quint32(S_IFREG) | modeBits(permissions)});
    return *this;
}

ZipBuilder& ZipBuilder::directory(const QString& name)
{
    m_entries.append({name.endsWith(QLatin1Char('/')) ? name : name + QLatin1Char('/'), QByteArray(),
                      quint32(S_IFDIR) | 0755});
    return *this;
}

ZipBuilder& ZipBuilder::symlink(const QString& name, const QString& target)
{
    m_entries.append({name, QFile::encodeName(target), quint32(S_IFLNK) | 0777});
    return *this;
}

ZipBuilder& ZipBuilder::stored(bool stored)
{
    m_stored = stored;
    return *this;
}

bool ZipBuilder::write(const QString& path) const
{
    QFile::remove(path);
    QuaZip zip(path);
    zip.setUtf8Enabled(true);
    if (!zip.open(QuaZip::mdCreate))
        return false;
    for (const Entry& entry : m_entries) {
        QuaZipNewInfo info(entry.name);
        info.externalAttr = entry.mode << 16;
        QuaZipFile out(&zip);
        const int method = m_stored ? 0 : 8;
        if (!out.open(QIODevice::WriteOnly, info, nullptr, 0, method, m_stored ? 0 : 6))
            return false;
        if (out.write(entry.content) != entry.content.size())
            return false;
        out.close();
        if (out.getZipError() != 0)
            return false;
    }
    zip.close();
    return zip.getZipError() == 0;
}

QByteArray ZipBuilder::bytes() const
{
    QTemporaryFile file;
    if (!file.open())
        return QByteArray();
    file.close();
    if (!write(file.fileName()))
        return QByteArray();
    QFile in(file.fileName());
    if (!in.open(QIODevice::ReadOnly))
        return QByteArray();
    return in.readAll();
}

QByteArray incompressibleBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(generator.generate() & 0xff);
    return bytes;
}

QByteArray withClaimedSize(QByteArray archive, const QString& name, quint32 size)
{
    const QByteArray encodedName = name.toUtf8();
    auto le16 = [&archive](int at) { return quint32(uchar(archive[at])) | quint32(uchar(archive[at + 1])) << 8; };
    auto put32 = [&archive](int at, quint32 value) {
        for (int i = 0; i < 4; ++i)
            archive[at + i] = char(value >> (8 * i));
    };
    // Local header: name length at 26, name at 30, size at 22. Central
    // directory header: name length at 28, name at 46, size at 24.
    const struct {
        const char* signature;
        int nameLength, nameAt, sizeAt;
    } headers[] = {{"PK\x03\x04", 26, 30, 22}, {"PK\x01\x02", 28, 46, 24}};
    for (const auto& header : headers) {
        for (int at = archive.indexOf(header.signature); at >= 0; at = archive.indexOf(header.signature, at + 4)) {
            if (archive.mid(at + header.nameAt, int(le16(at + header.nameLength))) == encodedName)
                put32(at + header.sizeAt, size);
        }
    }
    return archive;
}
