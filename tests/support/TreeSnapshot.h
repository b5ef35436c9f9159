#ifndef TREESNAPSHOT_H
#define TREESNAPSHOT_H

#include <QMap>
#include <QString>
#include <QStringList>

// Everything below a folder: each name with its kind and content (the bytes
// of a file, the target of a symbolic link, the permission bits), taken
// recursively without following links. Two snapshots compare equal when the
// trees hold the same names with the same bytes.
class TreeSnapshot
{
public:
    // Top-level names in `ignored` are left out (for example "UPDATES").
    static TreeSnapshot take(const QString& root, const QStringList& ignored = QStringList());

    bool operator==(const TreeSnapshot& other) const;
    bool operator!=(const TreeSnapshot& other) const { return !(*this == other); }

    // What differs, one line per name, for a failure message.
    QString differences(const TreeSnapshot& other) const;
    QStringList names() const;
    bool contains(const QString& name) const;

private:
    QMap<QString, QByteArray> m_entries; // relative name -> kind and content
};

#endif
