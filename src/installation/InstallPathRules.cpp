#include "InstallPathRules.h"

#include "FilePlatform.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>

const char* const InstallPathRules::UpdatesFolderName = "UPDATES";
const char* const InstallPathRules::OldFileSuffix = ".old";

namespace {

bool isInside(const QString& canonicalPath, const QString& canonicalFolder)
{
    return canonicalPath == canonicalFolder || canonicalPath.startsWith(canonicalFolder + QLatin1Char('/'));
}

} // namespace

InstallPathRules::InstallPathRules(const QDir& installDir)
    : m_installDir(installDir)
    , m_canonicalInstallDir(installDir.canonicalPath())
    , m_updatesId(FilePlatform::fileIdentity(installDir.absoluteFilePath(QLatin1String(UpdatesFolderName))))
{
}

bool InstallPathRules::refuse(const QString& reason)
{
    m_error = reason;
    return false;
}

bool InstallPathRules::split(const QString& name, QStringList* components)
{
    components->clear();
    if (name.contains(QLatin1Char('\\')))
        return refuse(QStringLiteral("a backslash in the name (a folder separator on Windows, part of the name "
                                     "elsewhere)"));
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    if (name.startsWith(QLatin1Char('/')) || drive.match(name).hasMatch())
        return refuse(QStringLiteral("absolute path"));
    QStringList parts;
    for (const QString& part : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String(".."))
            return refuse(QStringLiteral("path with a \"..\" component"));
        if (part != QLatin1String("."))
            parts.append(part);
    }
    if (parts.isEmpty())
        return refuse(QStringLiteral("names the unpack folder itself"));
    // The module's journals, lock and unpack folders: a package that brought
    // its own would have them played back, or break the lock.
    if (FilePlatform::namesEqual(parts.first(), QLatin1String(UpdatesFolderName)))
        return refuse(QStringLiteral("inside the module's own folder UPDATES, which no package may write to"));
    *components = parts;
    return true;
}

InstallPathRules::Reach InstallPathRules::reach(const QStringList& components)
{
    // Most paths share their folders: each folder is looked at once.
    QString prefix;
    bool throughLink = false;
    for (int i = 0; i + 1 < components.size(); ++i) {
        prefix = prefix.isEmpty() ? components.at(i) : prefix + QLatin1Char('/') + components.at(i);
        auto known = m_folders.constFind(prefix);
        if (known == m_folders.constEnd()) {
            Folder folder;
            const QFileInfo info(m_installDir.absoluteFilePath(prefix));
            folder.throughLink = throughLink || info.isSymLink();
            if (info.isSymLink()) {
                const QString target = info.canonicalFilePath();
                if (target.isEmpty() || !isInside(target, m_canonicalInstallDir))
                    folder.reach = Reach::LeadsOut;
            } else {
                folder.missing = !info.exists();
            }
            // Reached through a link, or spelt otherwise on a file system
            // that ignores case: it may be the module's own folder.
            if (folder.reach == Reach::Inside && !folder.missing && !m_updatesId.isEmpty()
                && (i == 0 || folder.throughLink)
                && FilePlatform::fileIdentity(info.absoluteFilePath()) == m_updatesId)
                folder.reach = Reach::IntoUpdates;
            known = m_folders.insert(prefix, folder);
        }
        throughLink = known->throughLink;
        if (known->reach == Reach::LeadsOut) {
            refuse(QStringLiteral("through a symbolic link that leads out of the installation folder"));
            return known->reach;
        }
        if (known->reach == Reach::IntoUpdates) {
            refuse(QStringLiteral("through a symbolic link into the module's own folder UPDATES"));
            return known->reach;
        }
        if (known->missing)
            break; // nothing deeper is there either
    }
    return Reach::Inside;
}

bool InstallPathRules::isSafe(const QString& path, bool isFolder)
{
    QStringList components;
    if (!split(path, &components))
        return false;
    if (isFolder)
        components.append(QStringLiteral("."));
    return reach(components) == Reach::Inside;
}

QString InstallPathRules::oldName(const QString& path, const QString& runStamp)
{
    return path + oldSuffix(runStamp);
}

QString InstallPathRules::oldSuffix(const QString& runStamp)
{
    return QLatin1Char('.') + runStamp + QLatin1String(OldFileSuffix);
}

int InstallPathRules::oldNameReserve()
{
    return oldSuffix(QString::number(QDateTime::currentMSecsSinceEpoch())).size();
}

QStringList InstallPathRules::oldFileFilters()
{
    const QString pattern = QLatin1Char('*') + QLatin1String(OldFileSuffix);
    return {pattern, pattern.toUpper()};
}
