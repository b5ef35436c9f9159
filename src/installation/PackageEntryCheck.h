#ifndef PACKAGEENTRYCHECK_H
#define PACKAGEENTRYCHECK_H

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

class PackageIndex;

// Decides whether a package may be unpacked and installed: no entry may be
// written outside the unpack folder or the installation folder.
//
// Before unpacking, check() reads the entry list and refuses a package when
// an entry's name is absolute or has a ".." component, when an entry would be
// written through a symbolic link (of the package itself) that leads out of
// the unpack folder, when a link entry points out of it, or when a file would
// be installed through a symbolic link of the installation folder that leads
// out of that folder; also when a name is too long for the file system (or
// for the name a later update moves the file aside to), or when the archive
// holds the same file twice. The zip library skips such entries silently or follows
// the links, so the check has to come first.
//
// After unpacking, checkUnpackedLinks() confirms on disk that every symbolic
// link of the unpacked copy resolves inside it, so that no file from elsewhere
// is copied into the installation through one.
class PackageEntryCheck
{
public:
    enum Outcome { Accepted, Unreadable, Refused };

    PackageEntryCheck();

    // installDir: the folder the files will be installed into.
    Outcome check(const PackageIndex& index, const QDir& installDir);
    Outcome checkUnpackedLinks(const QDir& unpackDir);

    // The entry that was refused and why, for the log.
    QString refusedEntry() const;
    QString reason() const;

    // The checks of an entry's name, for a path inside the installation
    // folder that comes from elsewhere (an installation journal): relative,
    // no ".." component, and not through a symbolic link of the
    // installation folder that leads out of it (with followLast, the last
    // component is such a link too: the path names a folder).
    static bool isSafeInstallPath(const QDir& installDir, const QString& path, bool followLast, QString* reason);

private:
    struct Link {
        QStringList parent; // where the link lies, with links resolved
        QStringList target; // its target's components, as stored
    };

    bool refuse(const QString& entry, const QString& reason);
    bool checkName(const QString& name, QStringList* components);
    bool checkNameLengths(const QString& name, const QStringList& components, bool isDirectory, int maxNameLength);
    bool resolve(QStringList path, const QStringList& components, bool followLast, int depth,
                 QStringList* resolved) const;
    bool leadsOutsideInstallDir(const QDir& installDir, const QString& canonicalInstallDir,
                                const QStringList& components);

    enum PrefixState { Inside, LeadsOut, Missing };
    QHash<QString, PrefixState> m_outsideChecked; // folders of the installation looked at
    int m_oldNameReserve = 0;
    QHash<QString, Link> m_links; // by the link's own resolved path
    QString m_refusedEntry;
    QString m_reason;
};

#endif
