// Proxy settings: the proxy text and its transport form, the proxy built
// from them, downloads through a real tinyproxy, and the proxy password
// kept out of the log.

#include <QtTest>

#include <QFile>
#include <QNetworkProxy>

#include "controller/CDefaultLibraryTestAccess.h"
#include "download/ProxySettings.h"
#include "support/DownloadRun.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/TinyProxyProcess.h"

namespace {

// Passwords the tests send; none of them may ever reach the log file.
const QStringList kPasswords = {QStringLiteral("t0ps3cret-Proxy"), QStringLiteral("wrong-Pa55word"),
                                QStringLiteral("Sekret|Pipe-7"), QString::fromUtf8("Zaż\xC3\xB3łć-Hasło9"),
                                QStringLiteral("dead-Port-Pw")};

QByteArray transportForm(const QString& host, quint16 port, const QString& user, const QString& password)
{
    return (host.toUtf8() + '|' + QByteArray::number(port) + '|' + user.toUtf8() + '|' + password.toUtf8()).toHex();
}

} // namespace

class TestProxy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void parsesProxyText_data();
    void parsesProxyText();
    void buildsHttpProxyFromTransportForm();
    void emptySettingsInstallNoProxy();
    void passwordIsMaskedInLog_data();
    void passwordIsMaskedInLog();
    void downloadsThroughProxy_data();
    void downloadsThroughProxy();
    void wrongProxyPasswordIsNetworkError();
    void closedProxyPortIsNetworkError();

private:
    HttpsTestServer m_server;
    QByteArray m_body;
    LogFile m_log; // marks where this run's lines begin
};

void TestProxy::initTestCase()
{
    m_log.mark();
    QVERIFY(m_server.start());
    m_body = QByteArray(200 * 1024, 'p');
    m_server.setRoute(QStringLiteral("/package"), HttpsTestServer::file(m_body));
}

// Whatever the tests did, no password in any form is in the log file.
void TestProxy::cleanupTestCase()
{
    m_server.stop();
    const QByteArray log = m_log.newText().toLatin1();
    for (const QString& password : kPasswords) {
        const QByteArray utf8 = password.toUtf8();
        QVERIFY2(!log.contains(utf8), qPrintable(password));
        QVERIFY2(!log.contains(password.toLatin1()), qPrintable(password));
        QVERIFY2(!log.contains(utf8.toHex()), qPrintable(password));
        // Not even the part before a "|" or the start of the password.
        QVERIFY2(!log.contains(utf8.left(5)), qPrintable(password));
        QVERIFY2(!log.contains(utf8.left(5).toHex()), qPrintable(password));
    }
    QVERIFY(log.contains("pass=***"));
}

void TestProxy::parsesProxyText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("fields");

    QTest::newRow("all four") << QByteArray("proxy.lan|3128|alice|t0ps3cret-Proxy") << "proxy.lan" << 3128 << "alice"
                              << "t0ps3cret-Proxy" << 4;
    QTest::newRow("dialog, no credentials") << QByteArray("proxy|8080||") << "proxy" << 8080 << "" << "" << 4;
    QTest::newRow("host and port only") << QByteArray("host|8080") << "host" << 8080 << "" << "" << 2;
    QTest::newRow("empty") << QByteArray() << "" << 0 << "" << "" << 1;
    QTest::newRow("port 65535") << QByteArray("h|65535||") << "h" << 65535 << "" << "" << 4;
    QTest::newRow("port 65536") << QByteArray("h|65536||") << "h" << 0 << "" << "" << 4;
    QTest::newRow("port -1") << QByteArray("h|-1||") << "h" << 0 << "" << "" << 4;
    QTest::newRow("port abc") << QByteArray("h|abc||") << "h" << 0 << "" << "" << 4;
    QTest::newRow("port empty") << QByteArray("h|||") << "h" << 0 << "" << "" << 4;
    QTest::newRow("pipe in password") << QByteArray("h|1|u|Sekret|Pipe-7") << "h" << 1 << "u" << "Sekret" << 5;
    QTest::newRow("extra fields") << QByteArray("h|2|u|p|x|y") << "h" << 2 << "u" << "p" << 6;
    QTest::newRow("utf-8") << QByteArray("pr\xC3\xB3xy|3|\xC5\xBC" "u|\xC4\x87") << QString::fromUtf8("próxy") << 3
                           << QString::fromUtf8("żu") << QString::fromUtf8("ć") << 4;
}

void TestProxy::parsesProxyText()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, fields);

    LogFile log;
    const ProxySettings settings(text);
    QCOMPARE(settings.getHostName(), host);
    QCOMPARE(int(settings.getPort()), port);
    QCOMPARE(settings.getUserName(), user);
    QCOMPARE(settings.getPassword(), password);
    QVERIFY(log.hasNewLine(QStringLiteral("ProxySettings::ProxySettings :: oFields.size()=%1").arg(fields)));
}

void TestProxy::buildsHttpProxyFromTransportForm()
{
    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    LogFile log;
    const QNetworkProxy proxy = access.createNetworkProxyFromProxySettingsData("70726f78797c383038307c7c");
    QCOMPARE(proxy.type(), QNetworkProxy::HttpProxy);
    QCOMPARE(proxy.hostName(), QStringLiteral("proxy"));
    QCOMPARE(proxy.port(), quint16(8080));
    QVERIFY(proxy.user().isEmpty());
    QVERIFY(proxy.password().isEmpty());
    const QString prefix = QStringLiteral("CDefaultLibrary::createNetworkProxyFromProxySettingsData :: ");
    QVERIFY(log.hasNewLine(QStringLiteral("ProxySettings::ProxySettings :: v_oProxySettings=proxy|8080||")));
    QVERIFY(log.hasNewLine(QStringLiteral("ProxySettings::ProxySettings :: oFields.size()=4")));
    for (const QString& line : {QStringLiteral("hostName=proxy"), QStringLiteral("port=8080"),
                                QStringLiteral("username="), QStringLiteral("type=3")})
        QVERIFY2(log.hasNewLine(prefix + line), qPrintable(line));
    // An empty password is shown as empty, not masked.
    QVERIFY(log.newText().contains(prefix + QStringLiteral("pass=\n")));

    // Non-hex characters are skipped by the decoder; the type is always HTTP.
    const QNetworkProxy spaced = access.createNetworkProxyFromProxySettingsData("70 72 6f 78 79 7c 38 30");
    QCOMPARE(spaced.type(), QNetworkProxy::HttpProxy);
    QCOMPARE(spaced.hostName(), QStringLiteral("proxy"));
    QCOMPARE(spaced.port(), quint16(80));
}

void TestProxy::emptySettingsInstallNoProxy()
{
    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    access.netManager().reset(new QNetworkAccessManager());
    LogFile log;
    access.setProxy(QByteArray());
    QCOMPARE(access.netManager()->proxy().type(), QNetworkProxy::DefaultProxy);
    QVERIFY(log.hasNewLine(
        QStringLiteral("CDefaultLibrary::setProxy :: proxySettingsData.isEmpty()=true; m_NetManager.isNull=false")));

    CDefaultLibrary withoutManager;
    log.mark();
    CDefaultLibraryTestAccess(withoutManager).setProxy(transportForm(QStringLiteral("h"), 1, QString(), QString()));
    QVERIFY(log.hasNewLine(
        QStringLiteral("CDefaultLibrary::setProxy :: proxySettingsData.isEmpty()=false; m_NetManager.isNull=true")));
}

void TestProxy::passwordIsMaskedInLog_data()
{
    QTest::addColumn<QByteArray>("proxyText");
    QTest::addColumn<QString>("maskedText");
    QTest::addColumn<QString>("passLine");

    QTest::newRow("plain") << QByteArray("proxy|3128|alice|t0ps3cret-Proxy") << "proxy|3128|alice|***" << "pass=***";
    QTest::newRow("pipe") << QByteArray("proxy|3128|alice|Sekret|Pipe-7") << "proxy|3128|alice|***" << "pass=***";
    QTest::newRow("non-ascii") << QString::fromUtf8("proxy|3128|alice|Zaż\xC3\xB3łć-Hasło9").toUtf8()
                               << "proxy|3128|alice|***" << "pass=***";
    QTest::newRow("no password") << QByteArray("proxy|3128|alice|") << "proxy|3128|alice|" << "pass=\n";
    QTest::newRow("only beyond") << QByteArray("proxy|3128|alice||dead-Port-Pw") << "proxy|3128|alice|***"
                                 << "pass=\n";
    QTest::newRow("three fields") << QByteArray("proxy|3128|alice") << "proxy|3128|alice" << "pass=\n";
}

void TestProxy::passwordIsMaskedInLog()
{
    QFETCH(QByteArray, proxyText);
    QFETCH(QString, maskedText);
    QFETCH(QString, passLine);

    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    access.netManager().reset(new QNetworkAccessManager());
    LogFile log;
    access.setProxy(proxyText.toHex());

    const QString text = log.newText();
    QVERIFY2(text.contains(QStringLiteral("CDefaultLibrary::setProxy :: proxySettingsData=")
                           + QString::fromLatin1(maskedText.toUtf8().toHex())),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("ProxySettings::ProxySettings :: v_oProxySettings=") + maskedText),
             qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("CDefaultLibrary::createNetworkProxyFromProxySettingsData :: ") + passLine),
             qPrintable(text));
    const QList<QByteArray> fields = proxyText.split('|');
    // The proxy itself still gets the password, as its UTF-8 bytes.
    QCOMPARE(access.netManager()->proxy().password().toLatin1(), fields.value(3));
}

void TestProxy::downloadsThroughProxy_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::newRow("open proxy") << QString() << QString();
    QTest::newRow("basic authentication") << QStringLiteral("tester") << kPasswords.at(0);
}

void TestProxy::downloadsThroughProxy()
{
    QFETCH(QString, user);
    QFETCH(QString, password);

    TinyProxyProcess proxy;
    QVERIFY2(proxy.start(user, password), qPrintable(proxy.errorString()));
    const DownloadOutcome outcome = runDownload(m_server.url(QStringLiteral("/package")),
                                     transportForm(QStringLiteral("127.0.0.1"), proxy.port(), user, password));
    QVERIFY2(outcome.passed, qPrintable(outcome.details));
    QVERIFY(outcome.fileBytes == m_body);
    // Qt must not have gone around the proxy for the loopback target.
    QVERIFY2(proxy.carriedConnectTo(m_server.port()), qPrintable(proxy.log()));
}

void TestProxy::wrongProxyPasswordIsNetworkError()
{
    TinyProxyProcess proxy;
    QVERIFY2(proxy.start(QStringLiteral("tester"), kPasswords.at(0)), qPrintable(proxy.errorString()));
    const DownloadOutcome outcome = runDownload(m_server.url(QStringLiteral("/package")),
                                     transportForm(QStringLiteral("127.0.0.1"), proxy.port(), QStringLiteral("tester"),
                                                   kPasswords.at(1)));
    QCOMPARE(outcome.code, 45);
    QVERIFY(outcome.fileBytes.isEmpty());
    // The proxy saw the request and refused to carry it.
    QVERIFY2(proxy.receivedConnectTo(m_server.port()), qPrintable(proxy.log()));
    QVERIFY2(!proxy.carriedConnectTo(m_server.port()), qPrintable(proxy.log()));
}

void TestProxy::closedProxyPortIsNetworkError()
{
    const quint16 port = HttpsTestServer::closedPort();
    QVERIFY(port != 0);
    for (const QString& password : {kPasswords.at(4), kPasswords.at(2), kPasswords.at(3)}) {
        const DownloadOutcome outcome = runDownload(m_server.url(QStringLiteral("/package")),
                                         transportForm(QStringLiteral("127.0.0.1"), port, QStringLiteral("u"), password));
        QCOMPARE(outcome.code, 45);
        QVERIFY(outcome.fileBytes.isEmpty());
    }
}

QTEST_MAIN(TestProxy)
#include "tst_proxy.moc"
