#ifndef PACKAGECONTENTS_H
#define PACKAGECONTENTS_H

#include <QList>
#include <QString>

// The entry list of a zip archive (or of a package: the trailer after the
// archive does not disturb the zip library), as the zip library reads it.
class PackageContents
{
public:
    enum Type { File, Folder, Link };

    struct Entry {
        QString name;
        Type type = File;
        // Permission bits (0777 at most) from the entry's attributes; 0 when
        // the archive stores none, and the unpacked file keeps the default.
        int mode = 0;
        qint64 size = 0;           // unpacked
        qint64 compressedSize = 0;
        QString linkTarget;        // for links, as stored
    };

    // False when the zip library cannot open the archive or read its entry
    // list; error() says why.
    bool read(const QString& archivePath);

    const QList<Entry>& entries() const;
    QString error() const;

    int count(Type type) const;
    qint64 unpackedSize() const;

    // "drwxr-xr-x", "-rw-r--r--", "lrwxrwxrwx" (dashes where no bits are
    // stored), as ls shows them.
    static QString modeText(const Entry& entry);

private:
    QList<Entry> m_entries;
    QString m_error;
};

#endif
