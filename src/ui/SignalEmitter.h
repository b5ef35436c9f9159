#ifndef SIGNALEMITTER_H
#define SIGNALEMITTER_H

#include <QObject>

// Announces the modal runs of the module's windows: hide() before a window
// is run, show() after it was accepted.
class SignalEmitter : public QObject
{
    Q_OBJECT

public:
    SignalEmitter();
    ~SignalEmitter() override;

    // The process-wide instance, created on first use.
    static SignalEmitter* instance();

signals:
    void hide();
    void show();
    void shouldStayHidden(bool hidden);
};

#endif
