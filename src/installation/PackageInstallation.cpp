#include "PackageInstallation.h"

#include "BackgroundWork.h"
#include "FileListTools.h"
#include "InstallPathRules.h"
#include "InstallationProgress.h"
#include "PackageRoomCheck.h"
#include "PackageUnpacker.h"
#include "module/FaultInjection.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSet>

namespace {

// For an installation that has nobody to report to.
class NoProgress : public InstallationProgress
{
public:
    void begin(const QString&, qint64) override {}
    void setTotal(qint64) override {}
    void advance(qint64) override {}
    void end() override {}
    bool stopRequested() const override { return false; }
};

NoProgress noProgress;

} // namespace

PackageInstallation::PackageInstallation(const QDir& installDir)
    : m_installDir(installDir.absolutePath())
    , m_installFolder(FolderHandle::open(m_installDir.absolutePath()))
    , m_updates(m_installFolder, m_installDir.absolutePath())
    , m_transaction(m_installDir, m_installFolder, m_updates)
    , m_progress(&noProgress)
{
    m_sinceEvents.start();
}

void PackageInstallation::setProgress(InstallationProgress* progress)
{
    m_progress = progress ? progress : &noProgress;
}

PackageInstallation::~PackageInstallation()
{
    if (m_ownRemoval)
        m_ownRemoval->wait();
    release();
}

PackageInstallation::Recovery PackageInstallation::recoverLeftovers()
{
    if (m_updates.open(false) != UpdatesFolder::Opened::Ready || !m_updates.hasLeftovers())
        return Recovery::NothingLeft;
    // When another installation holds the lock, it has recovered the folder
    // itself before it started.
    if (!m_transaction.lock(0)) {
        m_error = m_transaction.errorString();
        return m_transaction.lockWasBusy() ? Recovery::LeftToAnother : Recovery::CannotLock;
    }
    m_transaction.recover();
    m_recovered = true;
    m_transaction.unlock();
    return Recovery::Recovered;
}

bool PackageInstallation::readPackage(const QString& packagePath)
{
    m_index = std::make_unique<PackageIndex>(packagePath);
    m_indexRead = m_index->read(PackageRoomCheck::MaxEntries);
    if (!m_indexRead)
        return true;
    PackageRoomCheck room(*m_index);
    if (room.fits(m_installDir))
        return true;
    m_error = room.errorString();
    return false;
}

PackageInstallation::FolderCheck PackageInstallation::openUpdatesFolder()
{
    switch (m_updates.open(true)) {
    case UpdatesFolder::Opened::Ready:
        return FolderCheck::Ready;
    case UpdatesFolder::Opened::Refused:
        m_error = m_updates.errorString();
        return FolderCheck::Refused;
    default:
        m_error = m_updates.errorString();
        return FolderCheck::CannotCreate;
    }
}

bool PackageInstallation::lock(int timeoutMs)
{
    m_used = true;
    if (m_transaction.lock(timeoutMs))
        return true;
    m_error = m_transaction.errorString();
    return false;
}

void PackageInstallation::recover()
{
    // Recovered at the start of the call unless another installation held
    // the folder then; again only when one was interrupted since.
    if (!m_recovered || m_updates.hasInterruptedInstallations())
        m_transaction.recover();
    m_recovered = true;
}

bool PackageInstallation::createUnpackFolder()
{
    if (m_transaction.createUnpackFolder())
        return true;
    m_error = m_transaction.errorString();
    return false;
}

QString PackageInstallation::unpackPath() const
{
    return m_transaction.runStamp().isEmpty() ? m_updates.pathOf(QString::number(QDateTime::currentMSecsSinceEpoch()))
                                              : m_transaction.unpackPath();
}

PackageEntryCheck::Outcome PackageInstallation::checkEntries()
{
    return m_indexRead ? m_entryCheck.check(*m_index, m_installDir) : PackageEntryCheck::Unreadable;
}

bool PackageInstallation::unpack(QStringList* paths)
{
    if (stopRequested())
        return false;
    m_unpacker = std::make_unique<PackageUnpacker>(*m_index, m_entryCheck);
    PackageUnpacker& unpacker = *m_unpacker;
    m_progress->begin(QStringLiteral("unpack"), unpacker.totalBytes());
    const bool unpacked = unpacker.unpack(m_transaction.unpackFolder(), unpackPath(), paths, [this, &unpacker] {
        m_progress->advance(unpacker.unpackedBytes());
        if (stopRequested())
            unpacker.stop();
    });
    m_progress->advance(unpacker.unpackedBytes());
    m_progress->end();
    if (!unpacked) {
        m_failedEntry = unpacker.failedEntry();
        m_error = unpacker.errorString();
    }
    return unpacked && !stopRequested();
}

bool PackageInstallation::removeUnpackFolder()
{
    if (m_transaction.runStamp().isEmpty() || m_transaction.removeUnpackFolder())
        return true;
    m_error = m_transaction.errorString();
    return false;
}

void PackageInstallation::beginInstalling(qint64 files)
{
    m_progress->begin(QStringLiteral("install"), files);
}

bool PackageInstallation::step(qint64 done)
{
    m_progress->advance(done);
    if (m_sinceEvents.elapsed() >= BackgroundWork::TickMs) {
        QCoreApplication::processEvents();
        m_sinceEvents.restart();
    }
    return !stopRequested();
}

bool PackageInstallation::flush()
{
    if (stopRequested())
        return false;
    bool flushed = false;
    BackgroundWork work;
    work.start([this, &flushed] { flushed = m_transaction.flush(); });
    work.wait([this] { m_progress->advance(0); });
    if (!flushed) {
        m_error = m_transaction.errorString();
        return false;
    }
    return !stopRequested();
}

void PackageInstallation::endInstalling()
{
    m_progress->end();
}

bool PackageInstallation::cancelCameTooLate()
{
    if (m_committedNoticeDue || !m_transaction.isCommitted() || !m_progress->stopRequested())
        return false;
    m_committedNoticeDue = true;
    return true;
}

void PackageInstallation::beginCleanUp()
{
    m_progress->begin(QStringLiteral("clean-up"), -1);
    m_ownOldFiles.clear();
    for (const QString& path : m_transaction.movedAsidePaths())
        m_ownOldFiles.append(m_installDir.absoluteFilePath(m_transaction.oldName(path)));
    m_ownRemoval = std::make_unique<BackgroundWork>();
    if (!m_ownOldFiles.isEmpty())
        m_ownRemoval->start([ownOldFiles = m_ownOldFiles] { removeFiles(ownOldFiles); });
}

QStringList PackageInstallation::findOldFiles(const QDir& directory)
{
    // The module's own folder holds none of the installation's files.
    QStringList found;
    BackgroundWork walk;
    walk.start([&found, &directory] {
        found = findFilesRecursive(directory, InstallPathRules::oldFileFilters(), {QString::fromLatin1(InstallPathRules::UpdatesFolderName)});
    });
    walk.wait([this] { m_progress->advance(0); });
    // The files this installation moved aside count whether the walk still
    // met them or they were deleted while it went.
    const QSet<QString> met(found.begin(), found.end());
    for (const QString& path : m_transaction.movedAsidePaths()) {
        const QString oldFile = directory.absoluteFilePath(m_transaction.oldName(path));
        if (!met.contains(oldFile))
            found.append(oldFile);
    }
    return found;
}

void PackageInstallation::endCleanUp(const QStringList& found)
{
    // What this installation put in place stays, even when its name ends in
    // ".old"; so do the files moved aside by an installation whose roll-back
    // is still pending. Those this installation moved aside are going
    // already.
    QSet<QString> keep(m_ownOldFiles.begin(), m_ownOldFiles.end());
    for (const QString& path : m_transaction.installedPaths())
        keep.insert(m_installDir.absoluteFilePath(path));
    QStringList pendingSuffixes;
    for (const QString& stamp : m_transaction.pendingStamps())
        pendingSuffixes.append(InstallPathRules::oldSuffix(stamp));
    QStringList oldFiles;
    for (const QString& path : found) {
        bool pending = false;
        for (const QString& suffix : qAsConst(pendingSuffixes))
            pending = pending || path.endsWith(suffix);
        if (!pending && !keep.contains(path))
            oldFiles.append(path);
    }
    m_progress->setTotal(found.size());
    const auto heartbeat = [this] { m_progress->advance(0); };
    BackgroundWork removal;
    if (!oldFiles.isEmpty())
        removal.start([oldFiles] { removeFiles(oldFiles); });
    removal.wait(heartbeat);
    if (m_ownRemoval)
        m_ownRemoval->wait(heartbeat);
    m_progress->advance(found.size());
    m_progress->end();
    UPDATER_FAULT_POINT("install.cleaned");
}

void PackageInstallation::finish()
{
    m_transaction.finish();
}

void PackageInstallation::release()
{
    m_transaction.release();
}

// Before the commit point only: once it is passed, the installation ends.
bool PackageInstallation::stopRequested()
{
    if (!m_cancelled && !m_transaction.isCommitted() && m_progress->stopRequested())
        m_cancelled = true;
    return m_cancelled;
}
