#ifndef PACKAGEENTRYCHECK_H
#define PACKAGEENTRYCHECK_H

#include <QDir>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

class PackageIndex;

// Decides whether a package may be unpacked and installed: no entry may be
// written outside the unpack folder or the installation folder, nor into the
// module's own folder "UPDATES".
//
// check() reads the entry list and refuses a package when an entry's name is
// absolute or has a ".." component, names "UPDATES" or something in it (or
// reaches it through a symbolic link of the installation folder), when an
// entry would be written through a symbolic link (of the package itself)
// that leads out of the unpack folder, when a link entry points out of it
// or to nothing the package holds, or when a file would be installed
// through a symbolic link of the installation folder that leads out of that
// folder; also when a name is too long for the file system (or for the name
// a later update moves the file aside to), or when the archive holds the
// same file twice. The zip library skips such entries silently or follows
// the links, so the check has to come first.
//
// The package's own links are never made on the disk: a file is unpacked
// under its name in the archive, a link to a file of the package becomes a
// copy of that file (linkCopies()), and a link to a folder of the package
// installs nothing of its own (folderLinks()), as its files come under
// their own names.
class PackageEntryCheck
{
public:
    enum Outcome { Accepted, Unreadable, Refused };

    PackageEntryCheck();

    // installDir: the folder the files will be installed into.
    Outcome check(const PackageIndex& index, const QDir& installDir);

    // After an accepted check: for each link entry to a file, the entry
    // whose data it is to hold; the link entries to folders.
    QHash<int, int> linkCopies() const { return m_linkCopies; }
    QSet<int> folderLinks() const { return m_folderLinks; }

    // The entry that was refused and why, for the log.
    QString refusedEntry() const;
    QString errorString() const;

private:
    struct Link {
        int index = -1;
        QStringList parent; // where the link lies, with links resolved
        QStringList target; // its target's components, as stored
    };

    bool refuse(const QString& entry, const QString& reason);
    bool checkNameLengths(const QString& name, const QStringList& components, bool isDirectory, int maxNameLength);
    bool resolve(QStringList path, const QStringList& components, bool followLast, int depth,
                 QStringList* resolved) const;
    bool classifyLinks(const PackageIndex& index, const QVector<QStringList>& components);

    int m_oldNameReserve = 0;
    QHash<QString, Link> m_links; // by the link's own resolved path
    QHash<int, int> m_linkCopies;
    QSet<int> m_folderLinks;
    QString m_refusedEntry;
    QString m_reason;
};

#endif
