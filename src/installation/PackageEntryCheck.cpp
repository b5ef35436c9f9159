#include "PackageEntryCheck.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "FilePlatform.h"
#include "InstallationTransaction.h"
#include "PackageIndex.h"

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

PackageEntryCheck::PackageEntryCheck() = default;

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
    const int oldNameReserve = m_oldNameReserve;
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
                                               const QStringList& components)
{
    // Most entries share their folders: each folder is looked at once.
    QString prefix;
    for (int i = 0; i + 1 < components.size(); ++i) {
        prefix = prefix.isEmpty() ? components.at(i) : prefix + QLatin1Char('/') + components.at(i);
        const auto known = m_outsideChecked.constFind(prefix);
        PrefixState state;
        if (known != m_outsideChecked.constEnd()) {
            state = *known;
        } else {
            const QFileInfo info(installDir.absoluteFilePath(prefix));
            if (info.isSymLink()) {
                const QString target = info.canonicalFilePath();
                state = target.isEmpty() || !isInside(target, canonicalInstallDir) ? LeadsOut : Inside;
            } else {
                state = info.exists() ? Inside : Missing;
            }
            m_outsideChecked.insert(prefix, state);
        }
        if (state == LeadsOut)
            return true;
        if (state == Missing)
            return false;
    }
    return false;
}

bool PackageEntryCheck::isSafeInstallPath(const QDir& installDir, const QString& path, bool followLast,
                                          QString* reason)
{
    PackageEntryCheck check;
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

PackageEntryCheck::Outcome PackageEntryCheck::check(const PackageIndex& index, const QDir& installDir)
{
    m_links.clear();
    m_outsideChecked.clear();
    const QString canonicalInstallDir = installDir.canonicalPath();
    const int maxNameLength = FilePlatform::maxNameLength(installDir.absolutePath());
    m_oldNameReserve = InstallationTransaction::oldNameReserve();
    QSet<QString> files;
    const QVector<PackageIndex::Entry>& entries = index.entries();
    for (int i = 0; i < entries.size(); ++i) {
        const PackageIndex::Entry& entry = entries.at(i);
        const QString& name = entry.name;
        QStringList components;
        if (!checkName(name, &components))
            return Refused;
        // A folder is made of a name ending in "/" whatever the entry's
        // attributes say.
        const bool isDirectory = entry.isDirectory;
        const bool isLink = entry.isLink;
        if (!checkNameLengths(name, components, isDirectory, maxNameLength))
            return Refused;
        if (!isDirectory) {
            const QString path = joined(components);
            if (files.contains(path)) {
                refuse(name, QStringLiteral("the archive holds this entry twice"));
                return Refused;
            }
            files.insert(path);
        }

        QStringList where;
        if (!resolve(QStringList(), components, !isLink, 0, &where)) {
            refuse(name, QStringLiteral("written through a symbolic link that leads out of the unpack folder"));
            return Refused;
        }
        if (isLink) {
            QByteArray targetBytes;
            if (!index.readLinkTarget(i, int(MaxLinkTargetSize), &targetBytes))
                return Unreadable;
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
                return Refused;
            }
            m_links.insert(joined(where), link);
        }
        if (!isDirectory && leadsOutsideInstallDir(installDir, canonicalInstallDir, components)) {
            refuse(name, QStringLiteral("installed through a symbolic link that leads out of the installation folder"));
            return Refused;
        }
    }
    return Accepted;
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
