#ifndef ZIPBUILDER_H
#define ZIPBUILDER_H

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

// Writes zip archives entry by entry, including entries that no packing tool
// would write (absolute names, "..", symbolic links), to feed the unpacking.
class ZipBuilder
{
public:
    ZipBuilder& file(const QString& name, const QByteArray& content,
                     QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup
                                                      | QFile::ReadOther);
    ZipBuilder& directory(const QString& name);
    ZipBuilder& symlink(const QString& name, const QString& target);

    // Entries stored without compression, so that sizes on disk are known.
    ZipBuilder& stored(bool stored = true);

    bool write(const QString& path) const;
    // The archive's bytes.
    QByteArray bytes() const;

private:
    struct Entry {
        QString name;
        QByteArray content;
        quint32 mode; // st_mode bits
    };
    QList<Entry> m_entries;
    bool m_stored = false;
};

// The archive with the entry's uncompressed size, in its local header and in
// the central directory, replaced by a claim of its own (the data stays).
QByteArray withClaimedSize(QByteArray archive, const QString& name, quint32 size);

// Bytes that do not compress.
QByteArray incompressibleBytes(int size, quint32 seed = 1);

#endif
