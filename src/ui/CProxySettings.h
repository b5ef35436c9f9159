#ifndef CPROXYSETTINGS_H
#define CPROXYSETTINGS_H

#include <QString>

#include "CWindow.h"
#include "ui_CProxySettings.h"

class CKeyboardWindow;

// Asks for a proxy server's address and port and, optionally, a user name
// and password. Pre-filled from the system proxy; OK closes it only when the
// required fields are filled. The password can be typed on the on-screen
// keyboard and shown in clear.
class CProxySettings : public CWindow, public Ui::CProxySettings
{
    Q_OBJECT

public:
    explicit CProxySettings(QWidget* parent);
    ~CProxySettings() override;

    QString getAddress() const;
    QString getPort() const;
    QString getUser() const;
    QString getPassword() const;

    // Fills the fields from the first system proxy that is not NoProxy.
    void loadDefaultSettings();

public slots:
    void accept() override;

private slots:
    void showPasswordToggled(bool v_bShowPass);

protected slots:
    void ShowVirtualKeyboard();

protected:
    // Warns about the first missing field and returns false; the dialog then
    // stays open with its fields as they were.
    bool validateInput() override;

private:
    CKeyboardWindow* m_keyboard = nullptr;
};

#endif
