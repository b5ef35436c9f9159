// The two time limits of a download, in a host process (updater-host) with
// the test build of the library, whose fifteen-minute limit on a whole
// download is shortened through its environment. The server is a real HTTPS
// server on 127.0.0.1 that trickles the body: never silent long enough for
// the inactivity limit, and slower than the shortened limit on the whole.

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include "module/ResultTexts.h"
#include "support/HttpsTestServer.h"
#include "support/TestPaths.h"

namespace {

} // namespace

class TestDownloadLimits : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void trickleIsBounded_data();
    void trickleIsBounded();

private:
    HttpsTestServer m_server;
};

void TestDownloadLimits::initTestCase()
{
    QVERIFY(m_server.start());
    // 6 chunks 700 ms apart: about 3.5 s in all, never a second of silence.
    m_server.setRoute(QStringLiteral("/trickle.ztx"), HttpsTestServer::drip(QByteArray(6 * 100, 't'), 100, 700));
}

void TestDownloadLimits::cleanupTestCase()
{
    m_server.stop();
}

void TestDownloadLimits::trickleIsBounded_data()
{
    QTest::addColumn<QString>("durationLimitMs"); // empty: the shipped limit
    QTest::addColumn<QByteArray>("result");

    // Stopped as a time-out, although the server was never silent for long.
    QTest::newRow("limit shorter than the transfer")
        << "1500" << ResultTexts::networkProxyError(QStringLiteral("[4] ")).serialize();
    // Arrives whole; not being a package, it fails verification.
    const QByteArray verificationError = ResultTexts::record(ResultTexts::kVerificationError, QString()).serialize();
    QTest::newRow("shipped limit") << QString() << verificationError;
}

void TestDownloadLimits::trickleIsBounded()
{
    QFETCH(QString, durationLimitMs);
    QFETCH(QByteArray, result);

    QTemporaryDir installation;
    QVERIFY(installation.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!durationLimitMs.isEmpty())
        environment.insert(QStringLiteral("UPDATER_LIMIT_DOWNLOAD_DURATION_MS"), durationLimitMs);
    QProcess host;
    host.setProcessEnvironment(environment);
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(TestPaths::binaryDir() + QStringLiteral("/bin/updater-host"),
               {QStringLiteral("--library"), QStringLiteral(UPDATER_FAULTS_LIBRARY_PATH), QStringLiteral("--org-name"),
                QStringLiteral("UpdaterTests"), QStringLiteral("--app-name"), QStringLiteral("tst_download_limits"),
                QStringLiteral("--dir"), installation.path(), QStringLiteral("update"), QStringLiteral("--url"),
                m_server.url(QStringLiteral("/trickle.ztx"))});
    QVERIFY(host.waitForFinished(60000));
    const QByteArray output = host.readAllStandardOutput().trimmed();
    QVERIFY2(output.startsWith(result), output.constData());
}

QTEST_GUILESS_MAIN(TestDownloadLimits)
#include "tst_download_limits.moc"
