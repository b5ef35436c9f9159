#include "UpdatesFolder.h"

#include "logging/Log.h"
#include "module/FaultInjection.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>

const char* const UpdatesFolder::Name = InstallPathRules::UpdatesFolderName;
const char* const UpdatesFolder::LockFileName = "install.lock";

namespace {

const QString JournalSuffix = QStringLiteral(".journal");
const QString CommittedSuffix = QStringLiteral(".committed");
const QString RejectedSuffix = QStringLiteral(".rejected");

// Pauses between two looks at a lock another installation holds: short at
// first (an installation's clean-up may be ending), then 50 ms.
const int FirstLockPauseMs = 1;
const int LongestLockPauseMs = 50;

bool isRunStamp(const QString& name)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,19}$"));
    return digits.match(name).hasMatch();
}

const QString MakeAnew = QStringLiteral("remove it, and the module makes the folder anew");

} // namespace

UpdatesFolder::UpdatesFolder(const FolderHandle& installFolder, const QString& installPath)
    : m_path(installPath + QLatin1Char('/') + QLatin1String(Name))
    , m_installFolder(installFolder)
{
}

UpdatesFolder::~UpdatesFolder()
{
    unlock();
}

UpdatesFolder::Opened UpdatesFolder::open(bool create)
{
    if (m_folder.isOpen())
        return Opened::Ready;
    if (m_refused)
        return Opened::Refused;
    Opened opened = check();
    if (opened == Opened::Missing && create) {
        m_folder = m_installFolder.createFolder(QString::fromLatin1(Name));
        if (m_folder.isOpen()) {
            m_madeHere = true;
            return Opened::Ready;
        }
        m_error = m_folder.errorString();
        // Made by another installer at the same moment, or replaced:
        // looked at again.
        opened = m_installFolder.kind(QString::fromLatin1(Name)) == FolderHandle::Kind::Missing ? Opened::CannotCreate
                                                                                                : check();
    }
    if (opened == Opened::Refused) {
        m_refused = true;
        LOG_UPDATER(WARN) << "UpdatesFolder::open :: " << m_path << " is refused: " << m_error
                          << ". Nothing is read from it or written through it.";
    }
    return opened;
}

// What open() finds at the name, checked.
UpdatesFolder::Opened UpdatesFolder::check()
{
    if (!m_installFolder.isOpen()) {
        m_error = m_installFolder.errorString();
        return Opened::CannotCreate;
    }
    const QString name = QString::fromLatin1(Name);
    switch (m_installFolder.kind(name)) {
    case FolderHandle::Kind::Missing:
        return Opened::Missing;
    case FolderHandle::Kind::Link:
        m_error = QStringLiteral("it is a symbolic link; ") + MakeAnew;
        return Opened::Refused;
    case FolderHandle::Kind::Folder:
        break;
    default:
        m_error = QStringLiteral("it is not a folder; ") + MakeAnew;
        return Opened::Refused;
    }
    m_folder = m_installFolder.openFolder(name, false);
    if (!m_folder.isOpen()) {
        m_error = QStringLiteral("it cannot be opened as a folder (%1)").arg(m_folder.errorString());
        return Opened::Refused;
    }

    // Whoever may write into it could plant a journal that renames and
    // removes files when it is played back, or swap the unpack folder.
    const FolderHandle::Owner owner = m_folder.owner();
    if (owner == FolderHandle::Owner::OtherUser) {
        m_folder = FolderHandle();
        m_error = QStringLiteral("it belongs to another user; ") + MakeAnew
                  + QStringLiteral(", or give it to the user that runs the update");
        return Opened::Refused;
    }
    if (m_folder.othersMayWrite()) {
        const QString fix = QStringLiteral("; take that permission away (chmod go-w), or ") + MakeAnew;
        if (owner != FolderHandle::Owner::Caller) {
            m_folder = FolderHandle();
            m_error = QStringLiteral("group or others may write into it, and it is the administrator's") + fix;
            return Opened::Refused;
        }
        if (!m_folder.makePrivate()) {
            m_error = QStringLiteral("group or others may write into it, and that cannot be changed (%1)")
                          .arg(m_folder.errorString())
                      + fix;
            m_folder = FolderHandle();
            return Opened::Refused;
        }
        LOG_UPDATER(NOTICE) << "UpdatesFolder::open :: " << m_path
                            << " could be written by group or others; it was made private (rwx for its owner only) "
                               "before anything in it was read.";
    }
    return Opened::Ready;
}

void UpdatesFolder::removeIfMadeAndEmpty()
{
    if (!m_madeHere || !m_folder.isOpen() || m_lockFile.isOpen() || m_folderLocked || !entries().isEmpty())
        return;
    if (m_installFolder.removeFolder(QString::fromLatin1(Name))) {
        m_folder = FolderHandle();
        m_madeHere = false;
    }
}

QString UpdatesFolder::journalName(const QString& runStamp)
{
    return runStamp + JournalSuffix;
}

QString UpdatesFolder::partialJournalName(const QString& runStamp)
{
    return journalName(runStamp) + QStringLiteral(".new");
}

QString UpdatesFolder::committedName(const QString& runStamp)
{
    return runStamp + CommittedSuffix;
}

bool UpdatesFolder::lock(int timeoutMs)
{
    if (m_folderLocked || m_lockFile.isOpen())
        return true;
    m_lockBusy = false;
    QElapsedTimer clock;
    clock.start();
    int pauseMs = FirstLockPauseMs;
    // The folder's lock first, then the file's: an installer of this
    // version never holds the file while it waits for the folder.
    for (bool folderDone = false;;) {
        const Wait wait = folderDone ? lockFile() : lockFolder();
        if (wait == Wait::Failed) {
            unlock();
            return false;
        }
        if (wait == Wait::Done) {
            // A folder that an installation has used stays.
            if (folderDone) {
                m_madeHere = false;
                return true;
            }
            folderDone = true;
            continue;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            unlock();
            m_lockBusy = true;
            return false;
        }
        QThread::msleep(ulong(qMin<qint64>(pauseMs, left)));
        pauseMs = qMin(pauseMs * 2, LongestLockPauseMs);
    }
}

UpdatesFolder::Wait UpdatesFolder::lockFolder()
{
    switch (m_folder.lockFolder()) {
    case FolderHandle::LockResult::Locked:
        if (m_folder.isEntryOf(m_installFolder, QString::fromLatin1(Name))) {
            m_folderLocked = true;
            return Wait::Done;
        }
        // "UPDATES" was renamed or replaced while we waited: the folder
        // that now has the name is the one to lock, once checked.
        m_folder.unlockFolder();
        m_folder = FolderHandle();
        return open(true) == Opened::Ready ? Wait::Again : Wait::Failed;
    case FolderHandle::LockResult::Busy:
        return Wait::Again;
    default:
        // No such lock here: the lock file alone serves.
        return Wait::Done;
    }
}

UpdatesFolder::Wait UpdatesFolder::lockFile()
{
    const QString name = QString::fromLatin1(LockFileName);
    FolderHandle::LockResult result = m_folder.openLockFile(m_lockFile, name);
    if (result == FolderHandle::LockResult::Locked) {
        UPDATER_FAULT_POINT("lock.created");
        result = m_folder.lockFile(m_lockFile, name);
    }
    switch (result) {
    case FolderHandle::LockResult::Locked:
        return Wait::Done;
    case FolderHandle::LockResult::Busy:
        return Wait::Again;
    case FolderHandle::LockResult::Replaced:
        return Wait::Again;
    case FolderHandle::LockResult::NotAFile:
        // A leftover that no installation can lock (a folder, a link, a
        // pipe, another user's unreadable file): it goes, or, should even
        // that fail, the folder's own lock does without it.
        if (m_folder.removeTree(name))
            return Wait::Again;
        if (m_folderLocked)
            return Wait::Done;
        m_error = QStringLiteral("%1 cannot be locked, nor removed (%2)").arg(pathOf(name), m_folder.errorString());
        return Wait::Failed;
    default:
        m_error = m_folder.errorString();
        return Wait::Failed;
    }
}

void UpdatesFolder::unlock()
{
    m_folder.unlockFile(m_lockFile, QString::fromLatin1(LockFileName));
    if (m_folderLocked)
        m_folder.unlockFolder();
    m_folderLocked = false;
}

QVector<FolderHandle::Entry> UpdatesFolder::entries()
{
    QVector<FolderHandle::Entry> found;
    if (m_folder.isOpen())
        m_folder.list(&found);
    std::sort(found.begin(), found.end(),
              [](const FolderHandle::Entry& a, const FolderHandle::Entry& b) { return a.name < b.name; });
    return found;
}

QStringList UpdatesFolder::stampsWithSuffix(const QString& suffix)
{
    QStringList stamps;
    for (const FolderHandle::Entry& entry : entries()) {
        if (entry.kind != FolderHandle::Kind::File || !entry.name.endsWith(suffix))
            continue;
        const QString stamp = entry.name.chopped(suffix.size());
        if (isRunStamp(stamp))
            stamps.append(stamp);
    }
    return stamps;
}

QStringList UpdatesFolder::journalStamps()
{
    return stampsWithSuffix(JournalSuffix);
}

QStringList UpdatesFolder::committedStamps()
{
    return stampsWithSuffix(CommittedSuffix);
}

QStringList UpdatesFolder::stampFolders()
{
    QStringList stamps;
    for (const FolderHandle::Entry& entry : entries()) {
        if (entry.kind == FolderHandle::Kind::Folder && isRunStamp(entry.name))
            stamps.append(entry.name);
    }
    return stamps;
}

QStringList UpdatesFolder::partialJournals()
{
    // "<name>.new" while the journal is written, and the "<name>.XXXXXX" of
    // earlier versions of the module.
    QStringList names;
    for (const FolderHandle::Entry& entry : entries()) {
        if (entry.kind == FolderHandle::Kind::Folder || entry.name.endsWith(RejectedSuffix))
            continue;
        const QStringList parts = entry.name.split(QLatin1Char('.'));
        if (parts.size() >= 3 && isRunStamp(parts.at(0)) && parts.at(1) == JournalSuffix.mid(1))
            names.append(entry.name);
    }
    return names;
}

bool UpdatesFolder::hasLeftovers()
{
    return hasInterruptedInstallations() || m_folder.kind(QString::fromLatin1(LockFileName)) != FolderHandle::Kind::Missing;
}

bool UpdatesFolder::hasInterruptedInstallations()
{
    for (const FolderHandle::Entry& entry : entries()) {
        const QString& name = entry.name;
        if (name == QLatin1String(LockFileName))
            continue;
        if (name.endsWith(RejectedSuffix))
            continue;
        if (isRunStamp(name.section(QLatin1Char('.'), 0, 0)))
            return true;
    }
    return false;
}

bool UpdatesFolder::stampIsFree(const QString& runStamp) const
{
    return m_folder.kind(runStamp) == FolderHandle::Kind::Missing
           && m_folder.kind(journalName(runStamp)) == FolderHandle::Kind::Missing
           && m_folder.kind(committedName(runStamp)) == FolderHandle::Kind::Missing;
}

bool UpdatesFolder::reject(const QString& name)
{
    if (!m_folder.rename(name, m_folder, name + RejectedSuffix, true)) {
        m_error = m_folder.errorString();
        return false;
    }
    removeOldRejected();
    return true;
}

// The newest few are kept: a person who looks finds the latest, and a
// folder that keeps receiving bad ones does not grow.
void UpdatesFolder::removeOldRejected()
{
    QVector<QPair<qint64, QString>> rejected;
    for (const FolderHandle::Entry& entry : entries()) {
        if (entry.name.endsWith(RejectedSuffix))
            rejected.append({entry.name.section(QLatin1Char('.'), 0, 0).toLongLong(), entry.name});
    }
    std::sort(rejected.begin(), rejected.end(), std::greater<QPair<qint64, QString>>());
    for (int i = KeptRejected; i < rejected.size(); ++i)
        m_folder.removeTree(rejected.at(i).second);
}
