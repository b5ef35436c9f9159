#ifndef INSTALLPATHRULES_H
#define INSTALLPATHRULES_H

#include <QDir>
#include <QHash>
#include <QString>
#include <QStringList>

// The rules for paths inside an installation folder, in one place: what a
// path that comes from elsewhere (a package entry, a journal) may be, where
// it leads through the installation folder's own links, and the name a
// replaced file is moved aside to. Everything else of the installation
// builds on this; it builds on nothing of the installation.
//
//     InstallPathRules rules(installDir);
//     QStringList parts;
//     if (!rules.split(name, &parts))          // absolute, "..", a backslash, UPDATES
//         refuse(name, rules.errorString());
//     if (rules.reach(parts) != InstallPathRules::Reach::Inside)  // through a link of the folder
//         refuse(name, rules.errorString());
//     InstallPathRules::oldName("bin/app", stamp)  // "bin/app.<stamp>.old"
class InstallPathRules
{
public:
    // The module's own folder in the installation folder.
    static const char* const UpdatesFolderName;
    // Ending of the names that replaced files are moved aside to.
    static const char* const OldFileSuffix;

    enum class Reach {
        Inside,      // within the installation folder
        LeadsOut,    // through a link that leads out of it, or to nothing
        IntoUpdates, // into the module's own folder
    };

    // installDir: the folder whose links reach() follows; split() and the
    // old-file names do not need one.
    explicit InstallPathRules(const QDir& installDir = QDir());

    // The components of a relative name ("." and empty ones dropped); none,
    // with the reason in errorString(), for an absolute name, a ".."
    // component, a backslash (a folder separator on Windows, part of the
    // name elsewhere, so the same name would mean two paths), a name of the
    // folder itself, and a name in "UPDATES" (compared as the file system
    // compares names).
    bool split(const QString& name, QStringList* components);

    // Where installing under these components leads through the links of
    // the installation folder: each folder on the way (all components but
    // the last) is looked at once, links followed. Anything but Inside sets
    // errorString().
    Reach reach(const QStringList& components);

    // split() and reach() of a path from elsewhere; with isFolder the path
    // itself is such a folder on the way.
    bool isSafe(const QString& path, bool isFolder);

    // "<path>.<run stamp>.old", the name the file at the path is moved
    // aside to while the installation with that stamp runs.
    static QString oldName(const QString& path, const QString& runStamp);
    // Its ending, ".<run stamp>.old", which tells that installation's old
    // files.
    static QString oldSuffix(const QString& runStamp);
    // What moving a file aside adds to the length of its name.
    static int oldNameReserve();
    // The wildcard patterns of old files, "*.old" and "*.OLD".
    static QStringList oldFileFilters();

    QString errorString() const { return m_error; }

private:
    struct Folder {
        Reach reach = Reach::Inside;
        bool missing = false;
        bool throughLink = false; // it, or a folder above it, is a link
    };
    bool refuse(const QString& reason);

    QDir m_installDir;
    QString m_canonicalInstallDir;
    QString m_updatesId; // the file identity of UPDATES, when it is there
    QHash<QString, Folder> m_folders;
    QString m_error;
};

#endif
