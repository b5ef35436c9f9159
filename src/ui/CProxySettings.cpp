#include "CProxySettings.h"

#include <QIntValidator>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QNetworkProxyQuery>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

#include "CKeyboardWindow.h"
#include "MessageBoxes.h"
#include "logging/Log.h"

CProxySettings::CProxySettings(QWidget* parent)
    : CWindow(parent)
{
    setupUi(this);

    m_keyboard = new CKeyboardWindow(this);
    m_keyboard->setTarget(passLineEdit);

    connect(passKeyboardPushButton, &QAbstractButton::clicked, this, &CProxySettings::ShowVirtualKeyboard);
    connect(buttonBox, &QDialogButtonBox::accepted, this, &CProxySettings::accept);
    connect(buttonBox, &QDialogButtonBox::rejected, this, &CProxySettings::reject);
    connect(showPasswordCheckbox, &QAbstractButton::toggled, this, &CProxySettings::showPasswordToggled);

    portLineEdit->setValidator(new QIntValidator(0, 99999999, this));
    // "|" separates the fields of the proxy text handed to the host, which
    // has no escaping: typed into a field it would cut the field short and
    // shift the ones after it, so the text fields do not take it.
    QRegularExpressionValidator* noSeparator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[^|]*")), this);
    addressLineEdit->setValidator(noSeparator);
    userLineEdit->setValidator(noSeparator);
    passLineEdit->setValidator(noSeparator);

    loadDefaultSettings();
    setFixedSize(sizeHint());
}

CProxySettings::~CProxySettings()
{
    if (m_keyboard) {
        m_keyboard->deleteLater();
        m_keyboard = nullptr;
    }
}

QString CProxySettings::getAddress() const
{
    return addressLineEdit->text();
}

QString CProxySettings::getPort() const
{
    return portLineEdit->text();
}

QString CProxySettings::getUser() const
{
    return userLineEdit->text();
}

QString CProxySettings::getPassword() const
{
    return passLineEdit->text();
}

void CProxySettings::loadDefaultSettings()
{
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery());
    bool filled = false;
    for (const QNetworkProxy& proxy : proxies) {
        LOG_UPDATER(INFO) << "CProxySettings::loadDefaultSettings :: Proxy found:";
        LOG_UPDATER(INFO) << "CProxySettings::loadDefaultSettings :: hostName=" << proxy.hostName();
        LOG_UPDATER(INFO) << "CProxySettings::loadDefaultSettings :: port=" << proxy.port();
        LOG_UPDATER(INFO) << "CProxySettings::loadDefaultSettings :: type=" << static_cast<int>(proxy.type());
        if (filled || proxy.type() == QNetworkProxy::NoProxy)
            continue;
        filled = true;
        addressLineEdit->setText(proxy.hostName());
        portLineEdit->setText(QString::number(proxy.port()));
        userLineEdit->setText(proxy.user());
        passLineEdit->setText(proxy.password());
        usePassCheckbox->setChecked(!userLineEdit->text().isEmpty() || !passLineEdit->text().isEmpty());
    }
}

void CProxySettings::accept()
{
    if (validateInput())
        QDialog::accept();
}

bool CProxySettings::validateInput()
{
    const char* message = nullptr;
    if (getAddress().isEmpty())
        message = QT_TR_NOOP("Server address not entered");
    else if (getPort().isEmpty())
        message = QT_TR_NOOP("Port number not entered");
    else if (!usePassCheckbox->isChecked())
        return true;
    else if (getUser().isEmpty())
        message = QT_TR_NOOP("Username not entered");
    else if (getPassword().isEmpty())
        message = QT_TR_NOOP("Password not entered");
    else
        return true;
    showWarning(tr("Attention"), tr(message), this);
    return false;
}

void CProxySettings::showPasswordToggled(bool v_bShowPass)
{
    passLineEdit->setEchoMode(v_bShowPass ? QLineEdit::Normal : QLineEdit::Password);
}

void CProxySettings::ShowVirtualKeyboard()
{
    if (sender() != passKeyboardPushButton || !m_keyboard)
        return;
    m_keyboard->setTarget(passLineEdit);
    m_keyboard->exec();
}
