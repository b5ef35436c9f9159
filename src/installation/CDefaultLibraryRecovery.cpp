// One installation at a time per installation folder, and the roll-back of
// installations that were interrupted before their commit point.

#include "controller/CDefaultLibrary.h"

#include "InstallationTransaction.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"

namespace {

// How long an installation waits for another one in the same folder.
const int LockWaitMs = 120 * 1000;

} // namespace

// Called first by every Update and UpdateFromData, whatever becomes of the
// call itself. Creates nothing: without "UPDATES", or with nothing left in it
// by an earlier installation, the folder stays exactly as it is. When
// another installation holds the lock, it has recovered the folder itself
// before starting, so nothing is left to do here.
void CDefaultLibrary::recoverInterruptedInstallations()
{
    InstallationTransaction transaction(QDir::current());
    if (transaction.openUpdatesFolder(false) != InstallationTransaction::FolderCheck::Ready
        || !transaction.updatesFolder().hasLeftovers())
        return;
    if (transaction.lock(0))
        transaction.recover();
    else if (transaction.lockWasBusy())
        LOG_UPDATER(INFO) << "CDefaultLibrary::recoverInterruptedInstallations :: Another installation is running in "
                          << QDir::current().absolutePath() << "; the folder is left to it.";
    else
        LOG_UPDATER(WARN) << "CDefaultLibrary::recoverInterruptedInstallations :: The lock in "
                          << transaction.updatesFolder().path()
                          << " cannot be created: no permission to write there (" << transaction.errorString() << ").";
}

bool CDefaultLibrary::lockInstallationFolder()
{
    const int waitMs = int(UPDATER_LIMIT("lock_wait_ms", LockWaitMs));
    if (m_transaction->lock(waitMs))
        return true;
    if (m_transaction->lockWasBusy())
        LOG_UPDATER(WARN) << "CDefaultLibrary::lockInstallationFolder :: Another installation into "
                          << QDir::current().absolutePath() << " still runs after " << waitMs / 1000
                          << " s of waiting; nothing was changed.";
    else
        LOG_UPDATER(WARN) << "CDefaultLibrary::lockInstallationFolder :: The lock in "
                          << m_transaction->updatesFolder().path()
                          << " cannot be created: no permission to write there, or the disk is full ("
                          << m_transaction->errorString() << ").";
    return false;
}

// Rolls back what was not committed, and lets go of the folder.
void CDefaultLibrary::releaseInstallationFolder()
{
    m_transaction.reset();
}
