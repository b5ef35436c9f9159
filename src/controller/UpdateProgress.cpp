#include "UpdateProgress.h"

#include <QMetaObject>

#include "UpdateCancel.h"
#include "logging/Log.h"

const char* const UpdateProgress::ReceiverKey = "progressReceiver";
const char* const UpdateProgress::SlotSignature = "updateProgress(QString,qint64,qint64)";

namespace {

// Least time between two reports within a phase, and the longest a phase
// goes without one while the caller keeps calling advance().
const qint64 kLeastIntervalMs = 50;
const qint64 kHeartbeatMs = 200;

} // namespace

UpdateProgress::UpdateProgress(const QMap<QByteArray, QVariant>& context)
{
    const QVariant value = context.value(ReceiverKey);
    if (!value.isValid())
        return;
    QObject* receiver = value.value<QObject*>();
    if (!receiver) {
        LOG_UPDATER(WARN) << "UpdateProgress::UpdateProgress :: \"" << ReceiverKey
                          << "\" is not a QObject; no progress is reported.";
        return;
    }
    if (receiver->metaObject()->indexOfMethod(SlotSignature) < 0) {
        LOG_UPDATER(WARN) << "UpdateProgress::UpdateProgress :: The progress receiver (a "
                          << receiver->metaObject()->className() << ") has no slot " << SlotSignature
                          << "; no progress is reported.";
        return;
    }
    m_receiver = receiver;
}

void UpdateProgress::begin(const QString& phase, qint64 total)
{
    if (!enabled())
        return;
    m_phase = phase;
    m_done = 0;
    m_total = total;
    m_inPhase = true;
    report();
}

void UpdateProgress::advance(qint64 done)
{
    if (!m_inPhase)
        return;
    if (done > m_done)
        m_done = done;
    const qint64 since = m_sinceReport.elapsed();
    if ((m_done != m_reportedDone && since >= kLeastIntervalMs) || since >= kHeartbeatMs)
        report();
}

void UpdateProgress::setTotal(qint64 total)
{
    if (m_inPhase)
        m_total = total;
}

void UpdateProgress::end()
{
    if (!m_inPhase)
        return;
    report();
    m_inPhase = false;
}

bool UpdateProgress::stopRequested() const
{
    return UpdateCancel::isRequested();
}

void UpdateProgress::report()
{
    if (m_reporting || m_receiver.isNull())
        return;
    m_reporting = true;
    m_reportedDone = m_done;
    m_sinceReport.start();
    QMetaObject::invokeMethod(m_receiver.data(), "updateProgress", Qt::DirectConnection, Q_ARG(QString, m_phase),
                              Q_ARG(qint64, m_done), Q_ARG(qint64, m_total));
    m_reporting = false;
}
