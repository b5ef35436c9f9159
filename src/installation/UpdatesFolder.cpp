#include "UpdatesFolder.h"

#include <QRegularExpression>

const char* const UpdatesFolder::Name = "UPDATES";
const char* const UpdatesFolder::LockFileName = "install.lock";

namespace {

const QString JournalSuffix = QStringLiteral(".journal");

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

UpdatesFolder::~UpdatesFolder() = default;

QString UpdatesFolder::path() const
{
    return m_dir.absolutePath();
}

QDir UpdatesFolder::dir() const
{
    return m_dir;
}

bool UpdatesFolder::exists() const
{
    return m_dir.exists();
}

bool UpdatesFolder::create()
{
    // Another installer may make it at the same moment.
    return QDir().mkdir(m_dir.absolutePath()) || m_dir.exists();
}

bool UpdatesFolder::lock(int timeoutMs)
{
    if (!m_lock) {
        m_lock.reset(new QLockFile(m_dir.absoluteFilePath(QString::fromLatin1(LockFileName))));
        // An installation may work for minutes; only a dead owner makes
        // the lock stale.
        m_lock->setStaleLockTime(0);
    }
    return m_lock->isLocked() || m_lock->tryLock(timeoutMs);
}

bool UpdatesFolder::lockWasBusy() const
{
    return m_lock && m_lock->error() == QLockFile::LockFailedError;
}

QStringList UpdatesFolder::journalStamps() const
{
    QStringList stamps;
    const QStringList names = m_dir.entryList({QStringLiteral("*") + JournalSuffix}, QDir::Files | QDir::Hidden,
                                              QDir::Name);
    for (const QString& name : names) {
        const QString stamp = name.chopped(JournalSuffix.size());
        if (isRunStamp(stamp))
            stamps.append(stamp);
    }
    return stamps;
}

QStringList UpdatesFolder::stampFolders() const
{
    QStringList stamps;
    const QStringList names = m_dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (isRunStamp(name))
            stamps.append(name);
    }
    return stamps;
}

QStringList UpdatesFolder::partialJournals() const
{
    // QSaveFile writes "<name>.XXXXXX" beside the journal before renaming it.
    QStringList names;
    const QStringList candidates = m_dir.entryList({QStringLiteral("*") + JournalSuffix + QStringLiteral(".*")},
                                                   QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : candidates) {
        if (isRunStamp(name.section(QLatin1Char('.'), 0, 0)))
            names.append(name);
    }
    return names;
}

bool UpdatesFolder::hasLeftovers() const
{
    return !journalStamps().isEmpty() || !stampFolders().isEmpty() || !partialJournals().isEmpty()
           || QFileInfo::exists(m_dir.absoluteFilePath(QString::fromLatin1(LockFileName)));
}

QString UpdatesFolder::journalPath(const QString& runStamp) const
{
    return m_dir.absoluteFilePath(runStamp + JournalSuffix);
}
