#ifndef UPDATEPROGRESS_H
#define UPDATEPROGRESS_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QVariant>

#include "installation/InstallationProgress.h"

// Progress of one installing call, reported to the host's receiver: the
// QObject in the caller context's "progressReceiver", whose slot
// updateProgress(QString phase, qint64 done, qint64 total) is invoked
// directly, on the calling thread. Without a receiver every call here does
// nothing.
//
//     UpdateProgress progress(context);
//     progress.begin("download", -1);    // reported at once
//     progress.setTotal(length);         // once it is known
//     progress.advance(done) ...         // reported at most every 50 ms
//     progress.end();                    // reported at once, done as it stands
//
// Within a phase done never decreases and total stays as last set (-1: not
// known). advance() reports a change once 50 ms have passed since the last
// report, and reports even without a change after 200 ms: a caller that
// calls it at least every 50 ms (from a timer of its event loop) gives the
// host a report at least every 250 ms and at most 20 a second. A phase that
// begins while another runs replaces it (a download that starts over begins
// its phase again).
class UpdateProgress : public InstallationProgress
{
public:
    static const char* const ReceiverKey;
    static const char* const SlotSignature;

    explicit UpdateProgress(const QMap<QByteArray, QVariant>& context);

    void begin(const QString& phase, qint64 total) override;
    void advance(qint64 done) override;
    void setTotal(qint64 total) override;
    void end() override;
    // The host's CancelUpdate (UpdateCancel).
    bool stopRequested() const override;
    bool enabled() const { return !m_receiver.isNull(); }

private:
    void report();

    QPointer<QObject> m_receiver;
    QString m_phase;
    qint64 m_done = 0;
    qint64 m_total = -1;
    qint64 m_reportedDone = -1;
    bool m_inPhase = false;
    // The host's slot may run an event loop, in which the download's timer
    // can fire again: a report is never made from inside another.
    bool m_reporting = false;
    QElapsedTimer m_sinceReport;
};

#endif
