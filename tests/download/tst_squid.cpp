// Update through Debian's squid as an authenticating proxy (Basic, an
// htpasswd file of UTF-8 passwords): credentials outside ASCII pass, wrong
// ones and a dead proxy give 45 with the folder as it was, and no password
// reaches the module's log in any form.

#include <QtTest>

#include <updater/version.h>

#include "UpdateRun.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/SquidProcess.h"

using namespace InstallationTestTools;

namespace {

const Tree kOldFiles = {{QStringLiteral("app.bin"), "old app"}};
const Tree kNewFiles = {{QStringLiteral("app.bin"), "new app"}};

const QList<SquidProcess::Account> kAccounts = {
    {QStringLiteral("tester"), QStringLiteral("t0ps3cret-Proxy")},
    {QStringLiteral("umlaut"), QString::fromUtf8("p@ss w0rd:\xC3\xBC")},
    {QStringLiteral("polish"), QString::fromUtf8("za\xC5\xBC\xC3\xB3\xC5\x82\xC4\x87 g\xC4\x99\xC5\x9Bl\xC4\x85 ja\xC5\xBA\xC5\x84")},
    {QString::fromUtf8("u\xC5\xBCytkownik"), QString::fromUtf8("has\xC5\x82o-\xC3\xBC")},
};

QByteArray transportForm(quint16 port, const QString& user, const QString& password)
{
    return ("127.0.0.1|" + QByteArray::number(port) + '|' + user.toUtf8() + '|' + password.toUtf8()).toHex();
}

} // namespace

class TestSquid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void authentication_data();
    void authentication();
    void deadProxyIsNetworkError();

private:
    QString m_url;
    HttpsTestServer m_server;
    SquidProcess m_squid;
    LogFile m_log;
    QStringList m_sentPasswords;
};

void TestSquid::initTestCase()
{
    m_log.mark();
    QVERIFY(m_server.start());
    m_server.setRoute(QStringLiteral("/app.ztx"), HttpsTestServer::file(signedPackage(kNewFiles)));
    m_url = m_server.url(QStringLiteral("/app.ztx"));
    QVERIFY2(m_squid.start(kAccounts), qPrintable(m_squid.errorString()));
}

// Whatever was sent, no password is in the log: not as text, not in hex,
// not even its beginning.
void TestSquid::cleanupTestCase()
{
    m_squid.stop();
    m_server.stop();
    const QByteArray log = m_log.newText().toLatin1();
    for (const QString& password : qAsConst(m_sentPasswords)) {
        if (password.isEmpty())
            continue;
        const QByteArray utf8 = password.toUtf8();
        for (const QByteArray& form : {utf8, password.toLatin1(), utf8.toHex(), utf8.left(5), utf8.left(5).toHex()})
            QVERIFY2(!log.contains(form), qPrintable(password));
    }
}

void TestSquid::authentication_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("code");

    for (const SquidProcess::Account& account : kAccounts)
        QTest::newRow(qPrintable(account.first)) << account.first << account.second << 0;
    QTest::newRow("wrong password") << kAccounts.at(0).first << QStringLiteral("wrong-Pa55word") << 45;
    // What the Polish password became in Latin-1 ("?" for each letter
    // outside it): now simply another password.
    QTest::newRow("Latin-1 look-alike") << kAccounts.at(2).first << QString::fromLatin1(kAccounts.at(2).second.toLatin1()) << 45;
    QTest::newRow("no password") << kAccounts.at(1).first << QString() << 45;
}

void TestSquid::authentication()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(int, code);

    m_sentPasswords << password;
    const int before = m_squid.accessLog().count(QLatin1Char('\n'));
    const UpdateRun run =
        runUpdate(kOldFiles, {{"url", m_url.toUtf8()}, {"proxySettings", transportForm(m_squid.port(), user, password)}});
    QVERIFY2(run.code() == code, run.result.constData());
    QCOMPARE(run.tree, code == 0 ? installed(kOldFiles, kNewFiles) : kOldFiles);

    // The proxy carried the CONNECT for this user, or refused it.
    const QStringList lines = m_squid.accessLog().split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(before);
    const QString target = QStringLiteral("CONNECT 127.0.0.1:%1 ").arg(m_server.port());
    bool carried = false;
    for (const QString& line : lines) {
        if (!line.startsWith(target))
            continue;
        QVERIFY2(line.contains(QStringLiteral("agent=\"updater/" UPDATER_VERSION "\"")), qPrintable(line));
        carried = carried || line.startsWith(target + QStringLiteral("200 "));
    }
    QVERIFY2(carried == (code == 0), qPrintable(lines.join(QLatin1Char('\n'))));
}

void TestSquid::deadProxyIsNetworkError()
{
    const quint16 port = HttpsTestServer::closedPort();
    m_sentPasswords << kAccounts.at(2).second;
    const UpdateRun run = runUpdate(
        kOldFiles, {{"url", m_url.toUtf8()}, {"proxySettings", transportForm(port, kAccounts.at(2).first, kAccounts.at(2).second)}});
    QCOMPARE(run.code(), 45);
    QCOMPARE(run.tree, kOldFiles);
}

QTEST_GUILESS_MAIN(TestSquid)
#include "tst_squid.moc"
