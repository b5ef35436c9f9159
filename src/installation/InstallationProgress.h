#ifndef INSTALLATIONPROGRESS_H
#define INSTALLATIONPROGRESS_H

#include <QString>
#include <QtGlobal>

// What a running installation tells the one who asked for it, and asks
// them: how far each phase has come, and whether they want it stopped. The
// controller's progress of the host's call answers it.
class InstallationProgress
{
public:
    virtual ~InstallationProgress() = default;

    // A phase begins (total -1 when not known), comes on (done never
    // decreasing), and ends.
    virtual void begin(const QString& phase, qint64 total) = 0;
    virtual void setTotal(qint64 total) = 0;
    virtual void advance(qint64 done) = 0;
    virtual void end() = 0;
    // Whether the host asked for the call to stop.
    virtual bool stopRequested() const = 0;
};

#endif
