// The connection warning and proxy settings dialogs, driven with real clicks
// and key presses on the offscreen platform.

#include <QtTest>

#include <QLineEdit>
#include <QMessageBox>

#include <updater/OperationCancelledException.h>

#include "module/ResourceBundle.h"
#include "support/LogFile.h"
#include "support/ModalDriver.h"
#include "ui/CConnectionWarning.h"
#include "ui/CProxySettings.h"
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

void click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
}

void retype(QLineEdit* edit, const QString& text)
{
    edit->clear();
    ModalDriver::typeText(edit, text);
}

} // namespace

class TestUiDialogs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void warningEnding_data();
    void warningEnding();
    void proxyInputCheck_data();
    void proxyInputCheck();
    void proxyFieldValidators_data();
    void proxyFieldValidators();
    void proxyAuthenticationFrame();
    void proxyKeyboardFillsPassword();
    void proxyPrefillFromSystem_data();
    void proxyPrefillFromSystem();
};

void TestUiDialogs::initTestCase()
{
    QVERIFY(ResourceBundle::registerBundle());
    for (const char* name : {"http_proxy", "https_proxy", "all_proxy", "no_proxy"})
        qunsetenv(name);
}

void TestUiDialogs::warningEnding_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QStringList>("announced");
    QTest::newRow("Proxy settings accepts") << "proxySettingsButton" << 1 << QStringList{"hide", "show"};
    QTest::newRow("Ok cancels") << "okButton" << -1 << QStringList{"hide"};
    QTest::newRow("Esc cancels") << "esc" << -1 << QStringList{"hide"};
    QTest::newRow("closing cancels") << "close" << -1 << QStringList{"hide"};
}

void TestUiDialogs::warningEnding()
{
    QFETCH(QString, action);
    QFETCH(int, expected);
    QFETCH(QStringList, announced);
    QStringList seen;
    SignalEmitter* emitter = SignalEmitter::instance();
    QObject context;
    connect(emitter, &SignalEmitter::hide, &context, [&seen]() { seen << "hide"; });
    connect(emitter, &SignalEmitter::show, &context, [&seen]() { seen << "show"; });

    CConnectionWarning dialog(nullptr);
    QCOMPARE(dialog.minimumSize(), dialog.sizeHint());
    QCOMPARE(dialog.maximumSize(), dialog.sizeHint());
    QVERIFY(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    ModalDriver::onNextModal([action](QWidget* modal) {
        if (action == QLatin1String("esc"))
            QTest::keyClick(modal, Qt::Key_Escape);
        else if (action == QLatin1String("close"))
            modal->close();
        else
            QVERIFY(ModalDriver::clickButton(modal, action));
    });
    QCOMPARE(execOrCancelled(dialog), expected);
    QCOMPARE(seen, announced);
}

void TestUiDialogs::proxyInputCheck_data()
{
    QTest::addColumn<QStringList>("fields"); // address, port, user, password
    QTest::addColumn<bool>("useAuth");
    QTest::addColumn<QString>("message"); // empty: accepted

    QTest::newRow("nothing") << QStringList{"", "", "", ""} << false << "Server address not entered";
    QTest::newRow("port only") << QStringList{"", "8080", "", ""} << false << "Server address not entered";
    QTest::newRow("no port") << QStringList{"proxy", "", "", ""} << false << "Port number not entered";
    QTest::newRow("no auth") << QStringList{"proxy", "8080", "", ""} << false << "";
    QTest::newRow("auth unchecked, texts kept") << QStringList{"proxy", "8080", "u", "p"} << false << "";
    QTest::newRow("auth, no user") << QStringList{"proxy", "8080", "", "pw"} << true << "Username not entered";
    QTest::newRow("auth, no password") << QStringList{"proxy", "8080", "user", ""} << true << "Password not entered";
    QTest::newRow("auth complete") << QStringList{"proxy", "8080", "user", QString::fromUtf8("zażółć")} << true
                                   << "";
    QTest::newRow("spaces count as text") << QStringList{" ", "1", " ", " "} << true << "";
}

void TestUiDialogs::proxyInputCheck()
{
    QFETCH(QStringList, fields);
    QFETCH(bool, useAuth);
    QFETCH(QString, message);

    CProxySettings dialog(nullptr);
    QLineEdit* edits[4] = {dialog.addressLineEdit, dialog.portLineEdit, dialog.userLineEdit, dialog.passLineEdit};
    auto current = [&]() {
        return QStringList{dialog.getAddress(), dialog.getPort(), dialog.getUser(), dialog.getPassword()};
    };
    QString shown;
    QStringList afterWarning;
    bool stillOpen = false;
    ModalDriver::onNextModal([&](QWidget* modal) {
        click(dialog.usePassCheckbox); // the credentials can be typed only while it is checked
        for (int i = 0; i < 4; ++i)
            retype(edits[i], fields.at(i));
        if (!useAuth)
            click(dialog.usePassCheckbox);
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
        stillOpen = dialog.isVisible();
        afterWarning = current();
        QVERIFY(ModalDriver::clickButton(modal, "cancel"));
    });
    const int result = execOrCancelled(dialog);
    QCOMPARE(shown, message);
    if (message.isEmpty()) {
        QCOMPARE(result, 1);
        QCOMPARE(current(), fields);
    } else {
        QCOMPARE(result, -1);
        QVERIFY(stillOpen);
        QCOMPARE(afterWarning, fields);
    }
}

void TestUiDialogs::proxyFieldValidators_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("port digits") << "portLineEdit" << "8080" << "8080";
    QTest::newRow("port letters refused") << "portLineEdit" << "8a0b" << "80";
    QTest::newRow("port minus refused") << "portLineEdit" << "-1" << "1";
    QTest::newRow("port ninth digit refused") << "portLineEdit" << "123456789" << "12345678";
    QTest::newRow("port beyond 65535 kept") << "portLineEdit" << "99999" << "99999";
    // "|" would split the proxy text's fields.
    QTest::newRow("address separator refused") << "addressLineEdit" << "a|b" << "ab";
    QTest::newRow("user separator refused") << "userLineEdit" << "|u|" << "u";
    QTest::newRow("password separator refused") << "passLineEdit" << "p|w!" << "pw!";
}

void TestUiDialogs::proxyFieldValidators()
{
    QFETCH(QString, field);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    CProxySettings dialog(nullptr);
    dialog.show();
    click(dialog.usePassCheckbox);
    QLineEdit* edit = dialog.findChild<QLineEdit*>(field);
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), shown);
}

void TestUiDialogs::proxyAuthenticationFrame()
{
    CProxySettings dialog(nullptr);
    dialog.show();
    QVERIFY(!dialog.passKeyboardPushButton->isEnabled());
    click(dialog.usePassCheckbox);
    QVERIFY(dialog.passKeyboardPushButton->isEnabled());
    QTest::keyClicks(dialog.passLineEdit, QStringLiteral("s3cr3t"));
    const QList<QLineEdit::EchoMode> modes = {QLineEdit::Normal, QLineEdit::Password};
    for (QLineEdit::EchoMode mode : modes) {
        click(dialog.showPasswordCheckbox);
        QCOMPARE(dialog.passLineEdit->echoMode(), mode);
        QCOMPARE(dialog.getPassword(), QStringLiteral("s3cr3t"));
    }
    // Unchecking disables the frame again but keeps what it holds.
    click(dialog.usePassCheckbox);
    QVERIFY(!dialog.frame->isEnabled());
    QCOMPARE(dialog.getPassword(), QStringLiteral("s3cr3t"));
}

void TestUiDialogs::proxyKeyboardFillsPassword()
{
    CProxySettings dialog(nullptr);
    dialog.passLineEdit->setMaxLength(8);
    dialog.show();
    click(dialog.usePassCheckbox);
    QTest::keyClicks(dialog.passLineEdit, QStringLiteral("old"));

    ModalDriver::onNextModal([&](QWidget* keyboard) {
        QCOMPARE(keyboard->objectName(), QStringLiteral("CKeyboardWindow"));
        // The "|" of the symbol layer is not typed into the password.
        for (const char* key : {"shift", "Buttonp", "alt", "Buttona", "char_2", "Buttons", "Button2", "char_2",
                                "Button1", "Button2", "enterButton"})
            QVERIFY(ModalDriver::clickButton(keyboard, key));
    }, &dialog);
    QTest::mouseClick(dialog.passKeyboardPushButton, Qt::LeftButton);
    QCOMPARE(dialog.getPassword(), QString::fromUtf8("Pą!12"));

    // A second showing starts empty; closing it without Enter keeps the target.
    QString reopened = QStringLiteral("unset");
    ModalDriver::onNextModal([&](QWidget* keyboard) {
        reopened = keyboard->findChild<QLineEdit*>("lineEdit")->text();
        QVERIFY(ModalDriver::clickButton(keyboard, "Button9"));
        QTest::keyClick(keyboard, Qt::Key_Escape);
    }, &dialog);
    QTest::mouseClick(dialog.passKeyboardPushButton, Qt::LeftButton);
    QCOMPARE(reopened, QString());
    QCOMPARE(dialog.getPassword(), QString::fromUtf8("Pą!12"));
}

void TestUiDialogs::proxyPrefillFromSystem_data()
{
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<bool>("authChecked");

    QTest::newRow("none") << QByteArray("no_proxy") << QByteArray() << QStringList{"", "", "", ""} << false;
    QTest::newRow("no credentials") << QByteArray("http_proxy") << QByteArray("http://proxy.example:3128")
                                    << QStringList{"proxy.example", "3128", "", ""} << false;
    QTest::newRow("credentials") << QByteArray("http_proxy") << QByteArray("http://alice:pw@10.0.0.1:8080")
                                 << QStringList{"10.0.0.1", "8080", "alice", "pw"} << true;
    QTest::newRow("user, no password") << QByteArray("http_proxy") << QByteArray("http://bob@proxy:81")
                                       << QStringList{"proxy", "81", "bob", ""} << true;
    QTest::newRow("socks") << QByteArray("all_proxy") << QByteArray("socks5://socks.example:1080")
                           << QStringList{"socks.example", "1080", "", ""} << false;
}

void TestUiDialogs::proxyPrefillFromSystem()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);
    QFETCH(QStringList, fields);
    QFETCH(bool, authChecked);
    qputenv(variable.constData(), value);
    LogFile log;
    CProxySettings dialog(nullptr);
    qunsetenv(variable.constData());
    QCOMPARE((QStringList{dialog.getAddress(), dialog.getPort(), dialog.getUser(), dialog.getPassword()}), fields);
    QCOMPARE(dialog.usePassCheckbox->isChecked(), authChecked);
    QCOMPARE(dialog.frame->isEnabled(), authChecked);
    QVERIFY(log.hasNewLine(QStringLiteral("CProxySettings::loadDefaultSettings :: Proxy found:")));
    QVERIFY(log.hasNewLine(QStringLiteral("CProxySettings::loadDefaultSettings :: hostName=") + fields.first()));
}

QTEST_MAIN(TestUiDialogs)
#include "tst_ui_dialogs.moc"
