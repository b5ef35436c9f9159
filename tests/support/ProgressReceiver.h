#ifndef PROGRESSRECEIVER_H
#define PROGRESSRECEIVER_H

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVector>

#include <updater/updater.h>

#include <functional>

// A host's progress receiver: the object handed to Update in the context's
// "progressReceiver", whose slot the module calls with each report. Every
// report is kept, with the milliseconds since the receiver was made, and
// handed to onReport.
class ProgressReceiver : public QObject
{
    Q_OBJECT

public:
    struct Report {
        QString phase;
        qint64 done, total, atMs;
    };

    ProgressReceiver() { m_clock.start(); }

    updater::Context context() { return {{"progressReceiver", QVariant::fromValue<QObject*>(this)}}; }

    QVector<Report> reports;
    std::function<void(const Report&)> onReport;

public slots:
    void updateProgress(QString phase, qint64 done, qint64 total)
    {
        reports.append({phase, done, total, m_clock.elapsed()});
        if (onReport)
            onReport(reports.last());
    }

private:
    QElapsedTimer m_clock;
};

#endif
