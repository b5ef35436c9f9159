// The module in a host process: updater-host runs Update against the
// standalone HTTPS test server, as a host application would.

#include <QtTest>

#include <QProcess>
#include <QTemporaryDir>

#include "module/ResultTexts.h"
#include "support/HttpsTestServer.h"
#include "support/TestPaths.h"

namespace {

QString binary(const QString& name)
{
    return TestPaths::binaryDir() + QStringLiteral("/bin/") + name;
}

} // namespace

class TestHostDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void update_data();
    void update();

private:
    QTemporaryDir m_root;
    QTemporaryDir m_installation;
    QProcess m_server;
    quint16 m_port = 0;
};

void TestHostDownload::initTestCase()
{
    QVERIFY(m_root.isValid() && m_installation.isValid());
    QFile file(m_root.filePath(QStringLiteral("package.ztx")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'z'));
    file.close();

    m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_server.start(binary(QStringLiteral("updater-test-https-server")), {QStringLiteral("--root"), m_root.path()});
    QVERIFY(m_server.waitForStarted());
    QVERIFY(m_server.waitForReadyRead(10000));
    m_port = static_cast<quint16>(m_server.readLine().trimmed().toUInt());
    QVERIFY(m_port != 0);
}

void TestHostDownload::cleanupTestCase()
{
    m_server.terminate();
    if (!m_server.waitForFinished(5000)) {
        m_server.kill();
        m_server.waitForFinished();
    }
}

void TestHostDownload::update_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<QString>("resultPrefix");

    const QString base = QStringLiteral("https://127.0.0.1:%1").arg(m_port);
    // A file that is not a signed package is downloaded, then refused.
    QTest::newRow("downloaded") << base + "/package.ztx" << QString()
                                << QString::number(updater::VerificationError) + '|';
    QTest::newRow("missing") << base + "/nothing.ztx" << QString()
                             << QString::fromUtf8(ResultTexts::connectionError(QStringLiteral("[203] ")).serialize());
    QTest::newRow("plain http") << QStringLiteral("http://127.0.0.1:%1/package.ztx").arg(m_port) << QString()
                                << QString::fromUtf8(ResultTexts::insufficientParameters().serialize());
    const QByteArray deadProxy =
        ("127.0.0.1|" + QByteArray::number(HttpsTestServer::closedPort()) + "|user|pw").toHex();
    QTest::newRow("dead proxy") << base + "/package.ztx" << QString::fromLatin1(deadProxy)
                                << QString::fromUtf8(ResultTexts::networkProxyError(QStringLiteral("[")).serialize());
}

void TestHostDownload::update()
{
    QFETCH(QString, url);
    QFETCH(QString, proxy);
    QFETCH(QString, resultPrefix);

    QStringList arguments = {QStringLiteral("update"), QStringLiteral("--url"), url, QStringLiteral("--dir"),
                             m_installation.path()};
    if (!proxy.isEmpty())
        arguments << QStringLiteral("--proxy") << proxy;
    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(binary(QStringLiteral("updater-host")), arguments);
    QVERIFY(host.waitForFinished(60000));
    const QString result = QString::fromUtf8(host.readAllStandardOutput()).trimmed();
    QVERIFY2(result.startsWith(resultPrefix), qPrintable(result));
    QCOMPARE(host.exitCode(), result.left(result.indexOf(QLatin1Char('|'))).toInt());
    // Nothing was installed from a refused download.
    QCOMPARE(QDir(m_installation.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
}

QTEST_MAIN(TestHostDownload)
#include "tst_hostdownload.moc"
