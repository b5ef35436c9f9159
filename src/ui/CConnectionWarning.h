#ifndef CCONNECTIONWARNING_H
#define CCONNECTIONWARNING_H

#include "CWindow.h"
#include "ui_CConnectionWarning.h"

// Tells the user that the update failed for want of a connection. "Proxy
// settings" accepts the dialog (exec() returns 1); "Ok", Esc and closing the
// window reject it (exec() throws OperationCancelledException).
class CConnectionWarning : public CWindow, public Ui::CConnectionWarning
{
    Q_OBJECT

public:
    explicit CConnectionWarning(QWidget* parent);
    ~CConnectionWarning() override;

public slots:
    // Closes the dialog as accepted once validateInput() agrees.
    void accept() override;
};

#endif
