#include "PackageEntryCheck.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include "FilePlatform.h"
#include "InstallPathRules.h"
#include "PackageIndex.h"

namespace {

// The kernel gives up on longer chains of links, and so do we.
const int MaxLinkDepth = 40;
const qint64 MaxLinkTargetSize = 4096;

QString joined(const QStringList& components)
{
    return components.join(QLatin1Char('/'));
}

} // namespace

PackageEntryCheck::PackageEntryCheck() = default;

QString PackageEntryCheck::refusedEntry() const
{
    return m_refusedEntry;
}

QString PackageEntryCheck::errorString() const
{
    return m_reason;
}

bool PackageEntryCheck::refuse(const QString& entry, const QString& reason)
{
    m_refusedEntry = entry;
    m_reason = reason;
    return false;
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

PackageEntryCheck::Outcome PackageEntryCheck::check(const PackageIndex& index, const QDir& installDir)
{
    m_links.clear();
    m_linkCopies.clear();
    m_folderLinks.clear();
    InstallPathRules rules(installDir);
    const int maxNameLength = FilePlatform::maxNameLength(installDir.absolutePath());
    m_oldNameReserve = InstallPathRules::oldNameReserve();
    QSet<QString> files;
    const QVector<PackageIndex::Entry>& entries = index.entries();
    QVector<QStringList> allComponents(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const PackageIndex::Entry& entry = entries.at(i);
        const QString& name = entry.name;
        QStringList& components = allComponents[i];
        if (!rules.split(name, &components)) {
            refuse(name, rules.errorString());
            return Refused;
        }
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
            link.index = i;
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
        if (!isDirectory && rules.reach(components) != InstallPathRules::Reach::Inside) {
            refuse(name, QStringLiteral("installed ") + rules.errorString());
            return Refused;
        }
    }
    if (index.hasLinks() && !classifyLinks(index, allComponents))
        return Refused;
    return Accepted;
}

// With every link of the package known: where each file and each link's
// target lies once the links are followed. A link to a file of the package
// is unpacked as a copy of that file, a link to a folder of it as nothing;
// a link to what the package does not hold is refused, and so is a file
// that the package holds twice, under its name and through a link.
bool PackageEntryCheck::classifyLinks(const PackageIndex& index, const QVector<QStringList>& components)
{
    const QVector<PackageIndex::Entry>& entries = index.entries();
    QHash<QString, int> fileAt;
    QSet<QString> folders{QString()};
    for (int i = 0; i < entries.size(); ++i) {
        if (entries.at(i).isLink)
            continue;
        QStringList where;
        if (!resolve(QStringList(), components.at(i), false, 0, &where))
            return refuse(entries.at(i).name,
                          QStringLiteral("written through a symbolic link that leads out of the unpack folder"));
        for (int depth = 1; depth < where.size(); ++depth)
            folders.insert(joined(where.mid(0, depth)));
        const QString path = joined(where);
        if (entries.at(i).isDirectory) {
            folders.insert(path);
            continue;
        }
        if (fileAt.contains(path))
            return refuse(entries.at(i).name, QStringLiteral("the archive holds this file twice: under this name "
                                                             "and through a symbolic link"));
        fileAt.insert(path, i);
    }
    for (auto link = m_links.constBegin(); link != m_links.constEnd(); ++link) {
        QStringList target;
        if (!resolve(link->parent, link->target, true, 0, &target))
            return refuse(entries.at(link->index).name,
                          QStringLiteral("symbolic link that leads out of the unpack folder"));
        const QString path = joined(target);
        const auto file = fileAt.constFind(path);
        if (file != fileAt.constEnd())
            m_linkCopies.insert(link->index, *file);
        else if (folders.contains(path))
            m_folderLinks.insert(link->index);
        else
            return refuse(entries.at(link->index).name,
                          QStringLiteral("symbolic link to nothing: %1 is not in the package").arg(path));
    }
    return true;
}
