// ShowConnectionWarning as a host calls it: the library loaded with QLibrary,
// the real buttons of its dialogs clicked while the export runs.

#include <QtTest>

#include <QLibrary>
#include <QLineEdit>
#include <QThread>

#include <updater/updater.h>

#include "module/ResultTexts.h"
#include "support/LogFile.h"
#include "support/ModalDriver.h"
#include "support/TestPaths.h"

namespace {

void typeInto(QWidget* dialog, const char* name, const QString& text)
{
    QLineEdit* edit = dialog->findChild<QLineEdit*>(QLatin1String(name));
    QVERIFY(edit);
    edit->clear();
    ModalDriver::typeText(edit, text);
}

} // namespace

class TestConnectionWarningExport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void okCancels_data();
    void okCancels();
    void proxySettingsComeBack_data();
    void proxySettingsComeBack();
    void offTheGuiThread_data();
    void offTheGuiThread();
    void hostLookIsLeftAlone_data();
    void hostLookIsLeftAlone();

private:
    QByteArray call(const updater::Request& request, const updater::Context& context);

    QLibrary m_library;
    updater::WorkFunction m_show = nullptr;
};

void TestConnectionWarningExport::initTestCase()
{
    qunsetenv("http_proxy");
    qunsetenv("all_proxy");
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_connection_warning_export"));
    m_library.setFileName(TestPaths::libraryPath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    const auto init = reinterpret_cast<updater::InitFunction>(m_library.resolve(updater::InitName));
    m_show = reinterpret_cast<updater::WorkFunction>(m_library.resolve(updater::ShowConnectionWarningName));
    QVERIFY(init && m_show);
    QCOMPARE(init(), 1);
}

QByteArray TestConnectionWarningExport::call(const updater::Request& request, const updater::Context& context)
{
    return m_show(request, context);
}

void TestConnectionWarningExport::okCancels_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<bool>("inProxyDialog");
    QTest::newRow("Ok, with code") << QByteArray("99") << false;
    QTest::newRow("Ok, without code") << QByteArray() << false;
    QTest::newRow("Cancel of the proxy dialog") << QByteArray("99") << true;
}

void TestConnectionWarningExport::okCancels()
{
    QFETCH(QByteArray, code);
    QFETCH(bool, inProxyDialog);
    updater::Request request;
    if (!code.isNull())
        request.insert("connectionErrorCode", code);
    LogFile log(LogFile::pathFor(QStringLiteral("tst_connection_warning_export")));
    QString title;
    ModalDriver::onNextModal([&](QWidget* warning) {
        title = warning->windowTitle();
        if (!inProxyDialog) {
            QVERIFY(ModalDriver::clickButton(warning, "okButton"));
            return;
        }
        ModalDriver::onNextModal([&](QWidget* proxy) {
            typeInto(proxy, "addressLineEdit", QStringLiteral("proxy"));
            QVERIFY(ModalDriver::clickButton(proxy, "cancel"));
        }, warning);
        QVERIFY(ModalDriver::clickButton(warning, "proxySettingsButton"));
    });
    QCOMPARE(call(request, {{"languageId", QVariant("1")}}), ResultTexts::operationAborted().serialize());
    QCOMPARE(title, QStringLiteral("Connection error"));
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::ShowConnectionWarning :: previusConnectionErrorCode=")
                           + QString::fromLatin1(code)));
    QVERIFY(log.hasNewLine(QStringLiteral("NOTICE  - CDefaultLibrary::ShowConnectionWarning :: Operation cancelled")));
}

void TestConnectionWarningExport::proxySettingsComeBack_data()
{
    QTest::addColumn<QString>("languageId");
    QTest::addColumn<bool>("useAuth");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("proxyTitle");

    QTest::newRow("address and port") << "1" << false << "proxy" << "8080" << "" << "" << "Proxy settings";
    QTest::newRow("with authentication")
        << "0" << true << "10.1.2.3" << "3128" << "jan" << QString::fromUtf8("zażółć gęślą") << "Ustawienia proxy";
    QTest::newRow("credentials typed, box unchecked")
        << "2" << false << "proxy.example" << "99999" << "user" << "pw" << "Proxy postavke";
}

void TestConnectionWarningExport::proxySettingsComeBack()
{
    QFETCH(QString, languageId);
    QFETCH(bool, useAuth);
    QFETCH(QString, address);
    QFETCH(QString, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, proxyTitle);

    QString seenTitle;
    ModalDriver::onNextModal([&](QWidget* warning) {
        ModalDriver::onNextModal([&](QWidget* proxy) {
            seenTitle = proxy->windowTitle();
            // The credentials are typed while the box is checked; it is then
            // left as the row says.
            QVERIFY(ModalDriver::clickButton(proxy, "usePassCheckbox"));
            typeInto(proxy, "addressLineEdit", address);
            typeInto(proxy, "portLineEdit", port);
            typeInto(proxy, "userLineEdit", user);
            typeInto(proxy, "passLineEdit", password);
            if (!useAuth)
                QVERIFY(ModalDriver::clickButton(proxy, "usePassCheckbox"));
            QVERIFY(ModalDriver::clickButton(proxy, "ok"));
        }, warning);
        QVERIFY(ModalDriver::clickButton(warning, "proxySettingsButton"));
    });
    const QByteArray result = call({{"connectionErrorCode", "5"}}, {{"languageId", QVariant(languageId)}});
    const QByteArray prefix = ResultTexts::proxySettingsSet(QString()).serialize();
    QVERIFY2(result.startsWith(prefix), result.constData());
    const QByteArray hex = result.mid(prefix.size());
    QCOMPARE(hex, hex.toLower());
    QCOMPARE(QString::fromUtf8(QByteArray::fromHex(hex)), address + '|' + port + '|' + user + '|' + password);
    QCOMPARE(seenTitle, proxyTitle);
}

void TestConnectionWarningExport::offTheGuiThread_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("code echoed") << QByteArray("E99")
                                 << ResultTexts::networkProxyError(QStringLiteral("E99")).serialize();
    QTest::newRow("no code") << QByteArray() << ResultTexts::networkProxyError(QString()).serialize();
}

void TestConnectionWarningExport::offTheGuiThread()
{
    QFETCH(QByteArray, code);
    QFETCH(QByteArray, expected);
    updater::Request request;
    if (!code.isNull())
        request.insert("connectionErrorCode", code);
    QByteArray result;
    QThread* thread = QThread::create([&]() { result = call(request, {{"languageId", QVariant("1")}}); });
    thread->start();
    QVERIFY(thread->wait(20000));
    delete thread;
    QCOMPARE(result, expected);
}

void TestConnectionWarningExport::hostLookIsLeftAlone_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("styledWindows");

    const QByteArray cancelled = ResultTexts::operationAborted().serialize();
    QTest::newRow("Ok") << "ok" << cancelled << 1;
    QTest::newRow("proxy settings entered") << "proxy" << ResultTexts::proxySettingsSet(QString()).serialize() << 2;
    // The proxy dialog's own children: the missing-input message box and
    // the on-screen keyboard.
    QTest::newRow("message box and keyboard, then cancel") << "children" << cancelled << 4;
}

// The module's dialogs wear its style sheet and window icon; the host's
// application style sheet, application icon and own windows stay as they
// were, whichever way the call ends.
void TestConnectionWarningExport::hostLookIsLeftAlone()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, expected);
    QFETCH(int, styledWindows);

    QFile moduleSheetFile(QStringLiteral(":/updater/qss/style.css"));
    QVERIFY(moduleSheetFile.open(QIODevice::ReadOnly));
    const QString moduleSheet = QString::fromUtf8(moduleSheetFile.readAll());
    const QString hostSheet = QStringLiteral("QLabel { color: rgb(1, 2, 3); }");
    QPixmap hostPixmap(32, 32);
    hostPixmap.fill(Qt::darkGreen);
    const QIcon hostIcon(hostPixmap);
    QPixmap windowPixmap(32, 32);
    windowPixmap.fill(Qt::darkBlue);
    const QIcon windowIcon(windowPixmap);
    qApp->setStyleSheet(hostSheet);
    QApplication::setWindowIcon(hostIcon);
    QWidget hostWindow;
    hostWindow.setWindowIcon(windowIcon);
    hostWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&hostWindow));

    int styled = 0;
    QStringList unstyled;
    QString warningSheet;
    const auto check = [&](QWidget* window) {
        const bool moduleIcon = window->windowIcon().availableSizes() == QList<QSize>{QSize(64, 64)};
        if (moduleIcon && qApp->styleSheet() == hostSheet)
            ++styled;
        else
            unstyled << window->metaObject()->className();
    };
    ModalDriver::onNextModal([&](QWidget* warning) {
        check(warning);
        warningSheet = warning->styleSheet();
        if (path == QLatin1String("ok")) {
            QVERIFY(ModalDriver::clickButton(warning, "okButton"));
            return;
        }
        ModalDriver::onNextModal([&](QWidget* proxy) {
            check(proxy);
            if (path == QLatin1String("proxy")) {
                typeInto(proxy, "addressLineEdit", QStringLiteral("proxy"));
                typeInto(proxy, "portLineEdit", QStringLiteral("8080"));
                QVERIFY(ModalDriver::clickButton(proxy, "ok"));
                return;
            }
            ModalDriver::onNextModal([&, proxy](QWidget* box) {
                check(box);
                ModalDriver::onNextModal([&, proxy](QWidget* keyboard) {
                    check(keyboard);
                    QVERIFY(ModalDriver::clickButton(keyboard, "enterButton"));
                    QTimer::singleShot(0, proxy, [proxy] { QVERIFY(ModalDriver::clickButton(proxy, "cancel")); });
                }, proxy);
                QVERIFY(ModalDriver::clickButton(box, "ok"));
                QTimer::singleShot(0, proxy, [proxy] {
                    QVERIFY(ModalDriver::clickButton(proxy, "usePassCheckbox"));
                    QVERIFY(ModalDriver::clickButton(proxy, "passKeyboardPushButton"));
                });
            }, proxy);
            QVERIFY(ModalDriver::clickButton(proxy, "ok")); // nothing entered: the message box
        }, warning);
        QVERIFY(ModalDriver::clickButton(warning, "proxySettingsButton"));
    });

    const QByteArray result = call({{"connectionErrorCode", "7"}}, {{"languageId", QVariant("1")}});
    QVERIFY2(result.startsWith(expected), result.constData());
    QVERIFY2(unstyled.isEmpty(), qPrintable(unstyled.join(QLatin1Char(' '))));
    QCOMPARE(styled, styledWindows);
    QCOMPARE(warningSheet, moduleSheet);

    QCOMPARE(qApp->styleSheet(), hostSheet);
    QCOMPARE(QApplication::windowIcon().cacheKey(), hostIcon.cacheKey());
    QCOMPARE(hostWindow.windowIcon().cacheKey(), windowIcon.cacheKey());
    qApp->setStyleSheet(QString());
}

QTEST_MAIN(TestConnectionWarningExport)
#include "tst_connection_warning_export.moc"
