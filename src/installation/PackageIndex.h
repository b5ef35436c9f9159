#ifndef PACKAGEINDEX_H
#define PACKAGEINDEX_H

#include <QByteArray>
#include <QString>
#include <QVector>

#include <quazip/unzip.h>

// A package's entry list, read once from the zip archive's central
// directory, for everything that decides about the package or unpacks it:
// each entry's whole name, kind, sizes and where it lies in the archive.
//
// The entries are read with the zip library's own reader, without the
// conversions (dates, a name map) that its per-entry information call makes
// each time; names are decoded as that call decodes them.
class PackageIndex
{
public:
    struct Entry {
        QString name;
        bool isDirectory = false; // a name ending in "/" (or "\"), whatever its attributes
        bool isLink = false;      // a symbolic link (never a directory)
        quint64 uncompressedSize = 0;
        quint64 compressedSize = 0;
        unz64_file_pos position{};
    };

    explicit PackageIndex(const QString& packagePath);

    // False when the archive cannot be opened or its entry list read;
    // errorString() says why. Stops after maxEntries + 1 entries, so that a
    // package of too many entries is told without reading all of them.
    bool read(int maxEntries);
    QString errorString() const { return m_reason; }

    QString packagePath() const { return m_packagePath; }
    const QVector<Entry>& entries() const { return m_entries; }
    bool hasLinks() const { return m_hasLinks; }
    // Whether the list was cut short at maxEntries + 1.
    bool isTruncated() const { return m_truncated; }

    // Whether a failure to go to the next entry, after entriesRead entries,
    // is in fact the end of the list: an archive of exactly 65,535 entries
    // (or 65,535 more than a multiple of 65,536) written without zip64
    // carries the count 0xFFFF, which the zip library takes for "count
    // unknown" and reads past the last entry into the directory's end.
    static bool endsUncountedList(unzFile file, qint64 entriesRead, int error);

    // The target a link entry stores, at most maxSize + 1 bytes of it (so
    // that a longer one shows as such); false when it cannot be read.
    bool readLinkTarget(int index, int maxSize, QByteArray* target) const;

private:
    QString m_packagePath;
    QVector<Entry> m_entries;
    bool m_hasLinks = false;
    bool m_truncated = false;
    QString m_reason;
};

#endif
