// The connection warning and proxy settings dialogs, driven with real clicks
// and key presses on the offscreen platform.

#include <QtTest>

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "module/OperationCancelledException.h"
#include "module/ResourceBundle.h"
#include "support/LogFile.h"
#include "support/ModalDriver.h"
#include "ui/CConnectionWarning.h"
#include "ui/CKeyboardWindow.h"
#include "ui/CProxySettings.h"
#include "ui/MessageBoxes.h"
#include "ui/SignalEmitter.h"

namespace {

// exec() of a module dialog: its result, or -1 when it threw the cancellation.
int execOrCancelled(QDialog& dialog)
{
    try {
        return dialog.exec();
    } catch (const OperationCancelledException&) {
        return -1;
    }
}

void typeInto(QWidget* dialog, const char* name, const QString& text)
{
    QLineEdit* edit = dialog->findChild<QLineEdit*>(QLatin1String(name));
    QVERIFY(edit);
    edit->clear();
    ModalDriver::typeText(edit, text);
}

} // namespace

class TestUiDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void warningHasFixedSize();
    void warningEnding_data();
    void warningEnding();
    void windowAnnouncesModalRuns_data();
    void windowAnnouncesModalRuns();

    void proxyInputCheck_data();
    void proxyInputCheck();
    void proxyPortValidator_data();
    void proxyPortValidator();
    void proxyShowPasswordAndAuthFrame();
    void proxyKeyboardFillsPassword();
    void proxyPrefillFromSystem_data();
    void proxyPrefillFromSystem();

    void warningBoxReturnsOk();
};

void TestUiDialogs::initTestCase()
{
    QVERIFY(ResourceBundle::registerBundle());
    qunsetenv("http_proxy");
    qunsetenv("https_proxy");
    qunsetenv("all_proxy");
    qunsetenv("no_proxy");
}

void TestUiDialogs::cleanup()
{
    qunsetenv("http_proxy");
    qunsetenv("all_proxy");
}

void TestUiDialogs::warningHasFixedSize()
{
    CConnectionWarning dialog(nullptr);
    QCOMPARE(dialog.size(), dialog.sizeHint());
    QCOMPARE(dialog.minimumSize(), dialog.sizeHint());
    QCOMPARE(dialog.maximumSize(), dialog.sizeHint());
    QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Connection error"));
    QVERIFY(dialog.inherits("Ui::CConnectionWarning"));
}

void TestUiDialogs::warningEnding_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expected");
    QTest::newRow("Proxy settings accepts") << "proxySettingsButton" << 1;
    QTest::newRow("Ok cancels") << "okButton" << -1;
    QTest::newRow("Esc cancels") << "esc" << -1;
    QTest::newRow("closing cancels") << "close" << -1;
}

void TestUiDialogs::warningEnding()
{
    QFETCH(QString, action);
    QFETCH(int, expected);
    CConnectionWarning dialog(nullptr);
    ModalDriver::onNextModal([action](QWidget* modal) {
        if (action == QLatin1String("esc"))
            QTest::keyClick(modal, Qt::Key_Escape);
        else if (action == QLatin1String("close"))
            modal->close();
        else
            QVERIFY(ModalDriver::clickButton(modal, action));
    });
    QCOMPARE(execOrCancelled(dialog), expected);
}

void TestUiDialogs::windowAnnouncesModalRuns_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("announced");
    QTest::newRow("accepted") << "proxySettingsButton" << QStringList{"hide", "show"};
    QTest::newRow("rejected") << "okButton" << QStringList{"hide"};
}

void TestUiDialogs::windowAnnouncesModalRuns()
{
    QFETCH(QString, button);
    QFETCH(QStringList, announced);
    QStringList seen;
    SignalEmitter* emitter = SignalEmitter::instance();
    QMetaObject::Connection a = connect(emitter, &SignalEmitter::hide, [&seen]() { seen << "hide"; });
    QMetaObject::Connection b = connect(emitter, &SignalEmitter::show, [&seen]() { seen << "show"; });
    CConnectionWarning dialog(nullptr);
    ModalDriver::onNextModal([button](QWidget* modal) { QVERIFY(ModalDriver::clickButton(modal, button)); });
    execOrCancelled(dialog);
    disconnect(a);
    disconnect(b);
    QCOMPARE(seen, announced);
}

void TestUiDialogs::proxyInputCheck_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("useAuth");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("message"); // empty: accepted

    QTest::newRow("nothing") << "" << "" << false << "" << "" << "Server address not entered";
    QTest::newRow("port only") << "" << "8080" << false << "" << "" << "Server address not entered";
    QTest::newRow("no port") << "proxy" << "" << false << "" << "" << "Port number not entered";
    QTest::newRow("no auth") << "proxy" << "8080" << false << "" << "" << "";
    QTest::newRow("auth unchecked, texts kept") << "proxy" << "8080" << false << "u" << "p" << "";
    QTest::newRow("auth, no user") << "proxy" << "8080" << true << "" << "secret" << "Username not entered";
    QTest::newRow("auth, no password") << "proxy" << "8080" << true << "user" << "" << "Password not entered";
    QTest::newRow("auth complete") << "proxy" << "8080" << true << "user" << "zażółć" << "";
    QTest::newRow("spaces count as text") << " " << "1" << true << " " << " " << "";
}

void TestUiDialogs::proxyInputCheck()
{
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(bool, useAuth);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, message);

    CProxySettings dialog(nullptr);
    QString shown;
    bool stillOpen = false;
    bool fieldsIntact = false;
    ModalDriver::onNextModal([&](QWidget* modal) {
        if (useAuth)
            QTest::mouseClick(dialog.usePassCheckbox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(dialog.usePassCheckbox->isChecked(), useAuth);
        // Typed while the frame is enabled, then the box is set as the row says.
        dialog.frame->setEnabled(true);
        typeInto(modal, "addressLineEdit", address);
        typeInto(modal, "portLineEdit", port);
        typeInto(modal, "userLineEdit", user);
        typeInto(modal, "passLineEdit", password);
        dialog.frame->setEnabled(useAuth);
        if (!message.isEmpty()) {
            ModalDriver::onNextModal([&](QWidget* box) {
                QMessageBox* messageBox = qobject_cast<QMessageBox*>(box);
                QVERIFY(messageBox);
                QCOMPARE(messageBox->windowTitle(), QStringLiteral("Attention"));
                QCOMPARE(messageBox->icon(), QMessageBox::Warning);
                shown = messageBox->text();
                QVERIFY(ModalDriver::clickButton(box, "ok"));
            }, modal);
        }
        QVERIFY(ModalDriver::clickButton(modal, "ok"));
        if (message.isEmpty())
            return;
        // Back from the warning: the dialog waits with everything as typed.
        stillOpen = dialog.isVisible();
        fieldsIntact = dialog.getAddress() == address && dialog.getPort() == port && dialog.getUser() == user
            && dialog.getPassword() == password;
        QVERIFY(ModalDriver::clickButton(modal, "cancel"));
    });
    const int result = execOrCancelled(dialog);
    if (message.isEmpty()) {
        QCOMPARE(result, 1);
        QCOMPARE(dialog.getAddress(), address);
        QCOMPARE(dialog.getPort(), port);
        QCOMPARE(dialog.getUser(), user);
        QCOMPARE(dialog.getPassword(), password);
    } else {
        QCOMPARE(result, -1);
        QCOMPARE(shown, message);
        QVERIFY(stillOpen);
        QVERIFY(fieldsIntact);
    }
}

void TestUiDialogs::proxyPortValidator_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("digits") << "8080" << "8080";
    QTest::newRow("letters refused") << "8a0b" << "80";
    QTest::newRow("minus refused") << "-1" << "1";
    QTest::newRow("ninth digit refused") << "123456789" << "12345678";
    QTest::newRow("beyond 65535 kept") << "99999" << "99999";
}

void TestUiDialogs::proxyPortValidator()
{
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    CProxySettings dialog(nullptr);
    dialog.show();
    QTest::keyClicks(dialog.portLineEdit, typed);
    QCOMPARE(dialog.getPort(), shown);
}

void TestUiDialogs::proxyShowPasswordAndAuthFrame()
{
    CProxySettings dialog(nullptr);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY(!dialog.frame->isEnabled());
    QVERIFY(!dialog.passKeyboardPushButton->isEnabled());
    QTest::mouseClick(dialog.usePassCheckbox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QVERIFY(dialog.passKeyboardPushButton->isEnabled());

    QTest::keyClicks(dialog.passLineEdit, QStringLiteral("s3cr3t"));
    QCOMPARE(dialog.passLineEdit->echoMode(), QLineEdit::Password);
    QTest::mouseClick(dialog.showPasswordCheckbox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QCOMPARE(dialog.passLineEdit->echoMode(), QLineEdit::Normal);
    QTest::mouseClick(dialog.showPasswordCheckbox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QCOMPARE(dialog.passLineEdit->echoMode(), QLineEdit::Password);
    QCOMPARE(dialog.getPassword(), QStringLiteral("s3cr3t"));

    // Unchecking disables the frame again but keeps what it holds.
    QTest::mouseClick(dialog.usePassCheckbox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QVERIFY(!dialog.frame->isEnabled());
    QCOMPARE(dialog.getPassword(), QStringLiteral("s3cr3t"));
}

void TestUiDialogs::proxyKeyboardFillsPassword()
{
    CProxySettings dialog(nullptr);
    dialog.passLineEdit->setMaxLength(8);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(dialog.usePassCheckbox, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
    QTest::keyClicks(dialog.passLineEdit, QStringLiteral("old"));

    const QStringList keys = {"shift", "Buttonp", "alt", "Buttona", "Button1", "Button2"};
    QString reopened = QStringLiteral("unset");
    ModalDriver::onNextModal([&](QWidget* keyboard) {
        QCOMPARE(keyboard->objectName(), QStringLiteral("CKeyboardWindow"));
        for (const QString& key : keys)
            QVERIFY(ModalDriver::clickButton(keyboard, key));
        QVERIFY(ModalDriver::clickButton(keyboard, "enterButton"));
    }, &dialog);
    QTest::mouseClick(dialog.passKeyboardPushButton, Qt::LeftButton);
    QCOMPARE(dialog.getPassword(), QString::fromUtf8("Pą12"));

    // A second showing starts empty; closing it without Enter keeps the target.
    ModalDriver::onNextModal([&](QWidget* keyboard) {
        reopened = keyboard->findChild<QLineEdit*>("lineEdit")->text();
        QVERIFY(ModalDriver::clickButton(keyboard, "Button9"));
        QTest::keyClick(keyboard, Qt::Key_Escape);
    }, &dialog);
    QTest::mouseClick(dialog.passKeyboardPushButton, Qt::LeftButton);
    QCOMPARE(reopened, QString());
    QCOMPARE(dialog.getPassword(), QString::fromUtf8("Pą12"));
}

void TestUiDialogs::proxyPrefillFromSystem_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("authChecked");

    QTest::newRow("none") << QByteArray() << QByteArray() << "" << "" << "" << "" << false;
    QTest::newRow("http without credentials")
        << QByteArray("http_proxy") << QByteArray("http://proxy.example:3128") << "proxy.example" << "3128" << ""
        << "" << false;
    QTest::newRow("http with credentials")
        << QByteArray("http_proxy") << QByteArray("http://alice:pw@10.0.0.1:8080") << "10.0.0.1" << "8080"
        << "alice" << "pw" << true;
    QTest::newRow("user without password")
        << QByteArray("http_proxy") << QByteArray("http://bob@proxy:81") << "proxy" << "81" << "bob" << "" << true;
    QTest::newRow("socks") << QByteArray("all_proxy") << QByteArray("socks5://socks.example:1080")
                           << "socks.example" << "1080" << "" << "" << false;
}

void TestUiDialogs::proxyPrefillFromSystem()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, authChecked);
    if (!variable.isEmpty())
        qputenv(variable.constData(), value);
    LogFile log;
    CProxySettings dialog(nullptr);
    QCOMPARE(dialog.getAddress(), address);
    QCOMPARE(dialog.getPort(), port);
    QCOMPARE(dialog.getUser(), user);
    QCOMPARE(dialog.getPassword(), password);
    QCOMPARE(dialog.usePassCheckbox->isChecked(), authChecked);
    QCOMPARE(dialog.frame->isEnabled(), authChecked);
    QVERIFY(log.hasNewLine(QStringLiteral("INFO  - CProxySettings::loadDefaultSettings :: Proxy found:"))
            || log.hasNewLine(QStringLiteral("CProxySettings::loadDefaultSettings :: Proxy found:")));
    if (!address.isEmpty())
        QVERIFY(log.hasNewLine(QStringLiteral("CProxySettings::loadDefaultSettings :: hostName=") + address));
}

void TestUiDialogs::warningBoxReturnsOk()
{
    ModalDriver::onNextModal([](QWidget* box) {
        QVERIFY(box->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(ModalDriver::clickButton(box, "ok"));
    });
    QCOMPARE(showWarning(QStringLiteral("Attention"), QStringLiteral("text"), nullptr), int(QMessageBox::Ok));
}

QTEST_MAIN(TestUiDialogs)
#include "tst_ui_dialogs.moc"
