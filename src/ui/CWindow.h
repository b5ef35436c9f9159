#ifndef CWINDOW_H
#define CWINDOW_H

#include <QDialog>
#include <QWidget>

// Base of the module's dialogs: stays on top of other windows, takes the
// focus by a simulated click once shown, and reports a dialog that was not
// accepted as OperationCancelledException.
class CWindow : public QDialog
{
    Q_OBJECT

public:
    explicit CWindow(QWidget* parent);
    ~CWindow() override;

public slots:
    // Runs the dialog modally. Returns the result when accepted; throws
    // OperationCancelledException when it ends rejected.
    int exec() override;

protected:
    // Checked by the accept() of derived dialogs before they close.
    virtual bool validateInput();

private slots:
    void clickLeftBottomCorner();
    void setWindowFocus();

private:
    // A hidden shown window: while a module dialog exists the application
    // always has a visible top-level window, so closing the dialog never
    // counts as closing the application's last window.
    QWidget m_companion;
};

#endif
