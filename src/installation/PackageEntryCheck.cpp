#include "PackageEntryCheck.h"

#include <quazip/quazip.h>
#include <quazip/quazipfile.h>
#include <quazip/quazipfileinfo.h>

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "FilePlatform.h"
#include "InstallationTransaction.h"

namespace {

// The kernel gives up on longer chains of links, and so do we.
const int MaxLinkDepth = 40;
const qint64 MaxLinkTargetSize = 4096;

QString joined(const QStringList& components)
{
    return components.join(QLatin1Char('/'));
}

bool isInside(const QString& canonicalPath, const QString& canonicalFolder)
{
    return canonicalPath == canonicalFolder || canonicalPath.startsWith(canonicalFolder + QLatin1Char('/'));
}

} // namespace

PackageEntryCheck::PackageEntryCheck(const QString& packagePath)
    : m_packagePath(packagePath)
{
}

QString PackageEntryCheck::refusedEntry() const
{
    return m_refusedEntry;
}

QString PackageEntryCheck::reason() const
{
    return m_reason;
}

bool PackageEntryCheck::refuse(const QString& entry, const QString& reason)
{
    m_refusedEntry = entry;
    m_reason = reason;
    return false;
}

// Splits an entry name into its components. A backslash is refused: it
// separates folders on Windows and is part of a file name elsewhere, so the
// same package would install different files.
bool PackageEntryCheck::checkName(const QString& name, QStringList* components)
{
    if (name.contains(QLatin1Char('\\')))
        return refuse(name, QStringLiteral("a backslash in the name (a folder separator on Windows, part of the "
                                           "name elsewhere)"));
    const QString& path = name;
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    if (path.startsWith(QLatin1Char('/')) || drive.match(path).hasMatch())
        return refuse(name, QStringLiteral("absolute path"));
    components->clear();
    const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String(".."))
            return refuse(name, QStringLiteral("path with a \"..\" component"));
        if (part != QLatin1String("."))
            components->append(part);
    }
    if (components->isEmpty())
        return refuse(name, QStringLiteral("names the unpack folder itself"));
    return true;
}

// Every component must fit the file system's name limit, and a file's name
// must still fit once an update moves it aside as "<name>.<run stamp>.old":
// otherwise the installation would fail half-way, or every later one would.
bool PackageEntryCheck::checkNameLengths(const QString& name, const QStringList& components, bool isDirectory,
                                         int maxNameLength)
{
    for (const QString& component : components) {
        if (FilePlatform::nameLength(component) > maxNameLength)
            return refuse(name, QStringLiteral("a name longer than the file system's limit of %1").arg(maxNameLength));
    }
    const int oldNameReserve = InstallationTransaction::oldNameReserve();
    if (!isDirectory && FilePlatform::nameLength(components.last()) + oldNameReserve > maxNameLength)
        return refuse(name, QStringLiteral("a file name too long to be moved aside as <name>.<run stamp>.old "
                                           "(at most %1 characters)")
                                .arg(maxNameLength - oldNameReserve));
    return true;
}

// Walks the components from path (a location below the unpack folder, links
// resolved) the way the system would, following the package's links met on
// the way. False when the walk leaves the unpack folder.
bool PackageEntryCheck::resolve(QStringList path, const QStringList& components, bool followLast, int depth,
                                QStringList* resolved) const
{
    if (depth > MaxLinkDepth)
        return false;
    for (int i = 0; i < components.size(); ++i) {
        const QString& part = components.at(i);
        if (part.isEmpty() || part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            if (path.isEmpty())
                return false;
            path.removeLast();
            continue;
        }
        path.append(part);
        if (!followLast && i == components.size() - 1)
            break;
        const auto link = m_links.constFind(joined(path));
        if (link != m_links.constEnd()) {
            if (!resolve(link->parent, link->target, true, depth + 1, &path))
                return false;
        }
    }
    *resolved = path;
    return true;
}

// Whether installing a file under these components would pass through a
// symbolic link of the installation folder that leads out of it (or nowhere).
bool PackageEntryCheck::leadsOutsideInstallDir(const QDir& installDir, const QString& canonicalInstallDir,
                                               const QStringList& components) const
{
    QString prefix;
    for (int i = 0; i + 1 < components.size(); ++i) {
        prefix = prefix.isEmpty() ? components.at(i) : prefix + QLatin1Char('/') + components.at(i);
        const QFileInfo info(installDir.absoluteFilePath(prefix));
        if (info.isSymLink()) {
            const QString target = info.canonicalFilePath();
            if (target.isEmpty() || !isInside(target, canonicalInstallDir))
                return true;
        } else if (!info.exists()) {
            return false;
        }
    }
    return false;
}

bool PackageEntryCheck::isSafeInstallPath(const QDir& installDir, const QString& path, bool followLast,
                                          QString* reason)
{
    PackageEntryCheck check((QString()));
    QStringList components;
    if (!check.checkName(path, &components)) {
        *reason = check.reason();
        return false;
    }
    if (followLast)
        components.append(QStringLiteral("."));
    if (check.leadsOutsideInstallDir(installDir, installDir.canonicalPath(), components)) {
        *reason = QStringLiteral("through a symbolic link that leads out of the installation folder");
        return false;
    }
    return true;
}

PackageEntryCheck::Outcome PackageEntryCheck::check(const QDir& installDir)
{
    m_links.clear();
    const QString canonicalInstallDir = installDir.canonicalPath();
    QuaZip zip(m_packagePath);
    if (!zip.open(QuaZip::mdUnzip))
        return Unreadable;

    Outcome outcome = Accepted;
    const int maxNameLength = FilePlatform::maxNameLength(installDir.absolutePath());
    QSet<QString> files;
    for (bool more = zip.goToFirstFile(); more && outcome == Accepted; more = zip.goToNextFile()) {
        // The entry's whole name: QuaZip's getCurrentFileName() cuts names
        // at 256 bytes.
        QuaZipFileInfo64 info;
        if (!zip.getCurrentFileInfo(&info)) {
            outcome = Unreadable;
            break;
        }
        const QString name = info.name;
        QStringList components;
        if (!checkName(name, &components)) {
            outcome = Refused;
            break;
        }
        // A folder is made of a name ending in "/" whatever the entry's
        // attributes say.
        const bool isDirectory = name.endsWith(QLatin1Char('/')) || name.endsWith(QLatin1Char('\\'));
        const bool isLink = !isDirectory && info.isSymbolicLink();
        if (!checkNameLengths(name, components, isDirectory, maxNameLength)) {
            outcome = Refused;
            break;
        }
        if (!isDirectory) {
            const QString path = joined(components);
            if (files.contains(path)) {
                refuse(name, QStringLiteral("the archive holds this entry twice"));
                outcome = Refused;
                break;
            }
            files.insert(path);
        }

        QStringList where;
        if (!resolve(QStringList(), components, !isLink, 0, &where)) {
            refuse(name, QStringLiteral("written through a symbolic link that leads out of the unpack folder"));
            outcome = Refused;
            break;
        }
        if (isLink) {
            QuaZipFile entry(&zip);
            if (!entry.open(QIODevice::ReadOnly)) {
                outcome = Unreadable;
                break;
            }
            const QByteArray targetBytes = entry.read(MaxLinkTargetSize + 1);
            entry.close();
            QString target = QFile::decodeName(targetBytes);
            target.replace(QLatin1Char('\\'), QLatin1Char('/'));
            static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
            Link link;
            link.parent = where.mid(0, where.size() - 1);
            link.target = target.split(QLatin1Char('/'));
            QStringList resolvedTarget;
            if (targetBytes.size() > MaxLinkTargetSize || target.isEmpty() || target.startsWith(QLatin1Char('/'))
                || drive.match(target).hasMatch()
                || !resolve(link.parent, link.target, true, 0, &resolvedTarget)) {
                refuse(name, QStringLiteral("symbolic link that leads out of the unpack folder"));
                outcome = Refused;
                break;
            }
            m_links.insert(joined(where), link);
        }
        if (!isDirectory && leadsOutsideInstallDir(installDir, canonicalInstallDir, components)) {
            refuse(name, QStringLiteral("installed through a symbolic link that leads out of the installation folder"));
            outcome = Refused;
            break;
        }
    }
    if (outcome == Accepted && zip.getZipError() != UNZ_OK)
        outcome = Unreadable;
    zip.close();
    return outcome;
}

PackageEntryCheck::Outcome PackageEntryCheck::checkUnpackedLinks(const QDir& unpackDir)
{
    const QString canonicalUnpackDir = unpackDir.canonicalPath();
    QDirIterator entries(unpackDir.absolutePath(), QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        const QFileInfo info = entries.fileInfo();
        if (!info.isSymLink())
            continue;
        const QString target = info.canonicalFilePath();
        if (target.isEmpty()) {
            refuse(unpackDir.relativeFilePath(path),
                   QStringLiteral("symbolic link to nothing: %1 is not in the package")
                       .arg(unpackDir.relativeFilePath(info.symLinkTarget())));
            return Refused;
        }
        if (!isInside(target, canonicalUnpackDir)) {
            refuse(unpackDir.relativeFilePath(path), QStringLiteral("symbolic link that leads out of the unpack folder"));
            return Refused;
        }
    }
    return Accepted;
}
