#include "UpdatesFolder.h"

#include "FilePlatform.h"

#include <QRegularExpression>

const char* const UpdatesFolder::Name = "UPDATES";
const char* const UpdatesFolder::LockFileName = "install.lock";

namespace {

const QString JournalSuffix = QStringLiteral(".journal");
const QString CommittedSuffix = QStringLiteral(".committed");

bool isRunStamp(const QString& name)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,19}$"));
    return digits.match(name).hasMatch();
}

} // namespace

UpdatesFolder::UpdatesFolder(const QDir& installDir)
    : m_dir(installDir.absoluteFilePath(QString::fromLatin1(Name)))
{
}

QString UpdatesFolder::path() const
{
    return m_dir.absolutePath();
}

QDir UpdatesFolder::dir() const
{
    return m_dir;
}

bool UpdatesFolder::create()
{
    // Another installer may make it at the same moment.
    return QDir().mkdir(m_dir.absolutePath()) || m_dir.exists();
}

QString UpdatesFolder::lockPath() const
{
    return m_dir.absoluteFilePath(QString::fromLatin1(LockFileName));
}

QString UpdatesFolder::journalPath(const QString& runStamp) const
{
    return m_dir.absoluteFilePath(runStamp + JournalSuffix);
}

QString UpdatesFolder::partialJournalPath(const QString& runStamp) const
{
    return journalPath(runStamp) + QStringLiteral(".new");
}

QString UpdatesFolder::committedPath(const QString& runStamp) const
{
    return m_dir.absoluteFilePath(runStamp + CommittedSuffix);
}

QString UpdatesFolder::unpackPath(const QString& runStamp) const
{
    return m_dir.absoluteFilePath(runStamp);
}

QStringList UpdatesFolder::stampsWithSuffix(const QString& suffix) const
{
    QStringList stamps;
    const QStringList names = m_dir.entryList({QStringLiteral("*") + suffix}, QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                                              QDir::Name);
    for (const QString& name : names) {
        const QString stamp = name.chopped(suffix.size());
        if (isRunStamp(stamp))
            stamps.append(stamp);
    }
    return stamps;
}

QStringList UpdatesFolder::journalStamps() const
{
    return stampsWithSuffix(JournalSuffix);
}

QStringList UpdatesFolder::committedStamps() const
{
    return stampsWithSuffix(CommittedSuffix);
}

QStringList UpdatesFolder::stampFolders() const
{
    QStringList stamps;
    const QStringList names =
        m_dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks, QDir::Name);
    for (const QString& name : names) {
        if (isRunStamp(name))
            stamps.append(name);
    }
    return stamps;
}

QStringList UpdatesFolder::partialJournals() const
{
    // "<name>.new" while the journal is written, and the "<name>.XXXXXX" of
    // earlier versions of the module.
    QStringList names;
    const QStringList candidates = m_dir.entryList({QStringLiteral("*") + JournalSuffix + QStringLiteral(".*")},
                                                   QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& name : candidates) {
        if (isRunStamp(name.section(QLatin1Char('.'), 0, 0)))
            names.append(name);
    }
    return names;
}

bool UpdatesFolder::hasLeftovers() const
{
    return !journalStamps().isEmpty() || !committedStamps().isEmpty() || !stampFolders().isEmpty()
           || !partialJournals().isEmpty() || FilePlatform::entryExists(lockPath());
}

bool UpdatesFolder::stampIsFree(const QString& runStamp) const
{
    return !FilePlatform::entryExists(unpackPath(runStamp)) && !FilePlatform::entryExists(journalPath(runStamp))
           && !FilePlatform::entryExists(committedPath(runStamp));
}
