#ifndef PACKAGEROOMCHECK_H
#define PACKAGEROOMCHECK_H

#include <QDir>
#include <QList>
#include <QString>

class PackageIndex;

// Whether a package may be unpacked at all, decided from its entry list
// before anything is written: at most MaxEntries entries and MaxUnpackedSize
// bytes unpacked (the sizes the entries claim; the unpacking holds each entry
// to its claim), and room for them on the file system they are unpacked on.
//
// The room a package needs is its entries' sizes, each rounded up to whole
// blocks of that file system (a folder or a link takes one block), plus a
// margin of MarginPercent % of that, at least MinMarginBytes, so that an
// update never fills the disk that the host and everything else on it write
// to.
class PackageRoomCheck
{
public:
    static constexpr int MaxEntries = 65536;
    static constexpr qint64 MaxUnpackedSize = qint64(1) << 30; // 1 GiB
    static constexpr int MarginPercent = 10;
    static constexpr qint64 MinMarginBytes = qint64(256) << 10; // 256 KiB

    // The entry list, read with at most MaxEntries + 1 entries.
    explicit PackageRoomCheck(const PackageIndex& index);

    int entryCount() const { return m_entries; }
    qint64 unpackedSize() const { return m_unpackedSize; }

    // Empty, or why a package of so many entries and bytes is refused.
    static QString limitsProblem(qint64 entries, qint64 unpackedSize);
    // The room the entries need on a file system of this block size.
    qint64 neededRoom(qint64 blockSize) const;

    // Whether the package may be unpacked into installDir/UPDATES (and its
    // files then moved, or copied, into installDir); false with errorString().
    bool fits(const QDir& installDir);
    QString errorString() const { return m_reason; }

private:
    bool fitsOn(const QString& path);

    int m_entries = 0;
    int m_folders = 0; // folders and links: a block each
    qint64 m_unpackedSize = 0;
    QList<qint64> m_fileSizes;
    QString m_reason;
};

#endif
