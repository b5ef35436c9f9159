// Downloads cut short and resumed, against the project's HTTPS server with
// ranges: in the same call, by the next call after the process was killed,
// and the cases that must start over. Every call that returns 0 installed
// the package it was given, whole.

#include <QtTest>

#include "installation/InstallationTestTools.h"
#include "module/ResultTexts.h"
#include "support/HostProcess.h"
#include "support/HttpsTestServer.h"

using namespace InstallationTestTools;

namespace {

const Tree kOldFiles = {{QStringLiteral("app.bin"), "old app"}};
const QByteArray kInstalled = ResultTexts::fileUpdated().serialize();

Tree packageFiles(quint32 seed)
{
    return {{QStringLiteral("app.bin"), "new app " + QByteArray::number(seed)},
            {QStringLiteral("data/a.bin"), incompressibleBytes(5000000, seed)},
            {QStringLiteral("data/b.bin"), incompressibleBytes(4900000, seed + 1)}};
}

QString partialPath(const QTemporaryDir& folder)
{
    return folder.filePath(QStringLiteral("UPDATES/download.part"));
}

QByteArray update(const QTemporaryDir& folder, const QString& url)
{
    HostProcess host(folder.path(), QStringLiteral("tst_resume"));
    return host.run({QStringLiteral("update"), QStringLiteral("--url"), url}).result;
}

} // namespace

class TestResume : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void droppedConnectionIsResumedInTheSameCall();
    void killedProcessIsResumedByTheNextCall();
    void startsOverWhenTheRestDoesNotFit_data();
    void startsOverWhenTheRestDoesNotFit();

private:
    HttpsTestServer::Route cutRoute(const QByteArray& body, qint64 cutAfter, int cuts) const
    {
        HttpsTestServer::Route route = HttpsTestServer::resumable(body, "\"v1\"");
        route.cutAfter = cutAfter;
        route.cuts = cuts;
        return route;
    }

    HttpsTestServer m_server;
    QByteArray m_package;
    QByteArray m_otherPackage;
    qint64 m_size = 0;
};

void TestResume::initTestCase()
{
    m_package = signedPackage(packageFiles(1));
    m_otherPackage = signedPackage(packageFiles(3));
    m_size = m_package.size();
    QVERIFY(m_size > 9 * 1000 * 1000 && m_size <= 10485760);
    QVERIFY(m_server.start());
}

void TestResume::droppedConnectionIsResumedInTheSameCall()
{
    const QString path = QStringLiteral("/same-call.ztx");
    m_server.setRoute(path, cutRoute(m_package, m_size * 6 / 10, 1));
    QTemporaryDir folder;
    QVERIFY(writeTree(folder.path(), kOldFiles));
    QCOMPARE(update(folder, m_server.url(path)), kInstalled);
    QCOMPARE(readTree(folder.path()), installed(kOldFiles, packageFiles(1)));
    QVERIFY2(m_server.bodyBytesSent(path) <= m_size * 145 / 100, qPrintable(QString::number(m_server.bodyBytesSent(path))));
    QCOMPARE(m_server.requestedPaths().count(path), 2);
    QVERIFY(!QFileInfo::exists(partialPath(folder)));
}

void TestResume::killedProcessIsResumedByTheNextCall()
{
    const QString path = QStringLiteral("/killed.ztx");
    HttpsTestServer::Route route = cutRoute(m_package, m_size * 6 / 10, 1);
    route.stall = true;
    m_server.setRoute(path, route);
    QTemporaryDir folder;
    QVERIFY(writeTree(folder.path(), kOldFiles));

    HostProcess host(folder.path(), QStringLiteral("tst_resume"));
    QVERIFY(host.start({QStringLiteral("update"), QStringLiteral("--url"), m_server.url(path)}));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(partialPath(folder)).size() >= m_size * 6 / 10, 20000);
    host.kill();
    QVERIFY(host.finish().killed);
    QCOMPARE(readTree(folder.path()), kOldFiles);

    const qint64 sentBefore = m_server.bodyBytesSent(path);
    QCOMPARE(update(folder, m_server.url(path)), kInstalled);
    QCOMPARE(readTree(folder.path()), installed(kOldFiles, packageFiles(1)));
    QVERIFY(m_server.bodyBytesSent(path) - sentBefore <= m_size * 45 / 100);
    QVERIFY(!QFileInfo::exists(partialPath(folder)));
}

void TestResume::startsOverWhenTheRestDoesNotFit_data()
{
    QTest::addColumn<QString>("change");
    QTest::newRow("server ignores Range") << "no ranges";
    QTest::newRow("changed ETag") << "new package";
    QTest::newRow("partial with one flipped byte") << "flipped byte";
}

// A first call that loses its connection four times (resumed three times)
// fails as before and leaves 60 % kept; the second call ends with the
// package that is served now, downloaded whole.
void TestResume::startsOverWhenTheRestDoesNotFit()
{
    QFETCH(QString, change);
    const QString path = QStringLiteral("/start-over-%1.ztx").arg(QTest::currentDataTag()).replace(' ', '-');
    m_server.setRoute(path, cutRoute(m_package, m_size * 15 / 100, 4));
    QTemporaryDir folder;
    QVERIFY(writeTree(folder.path(), kOldFiles));
    const QByteArray failed = update(folder, m_server.url(path));
    QVERIFY2(failed.startsWith("45|"), failed.constData());
    QCOMPARE(readTree(folder.path()), kOldFiles);
    // What the server sent last before each cut may be lost with the connection.
    QVERIFY(QFileInfo(partialPath(folder)).size() > m_size / 4);

    HttpsTestServer::Route route = cutRoute(m_package, -1, 0);
    Tree expected = packageFiles(1);
    if (change == QLatin1String("no ranges")) {
        route.ranges = false;
    } else if (change == QLatin1String("new package")) {
        route = HttpsTestServer::resumable(m_otherPackage, "\"v2\"");
        expected = packageFiles(3);
    } else {
        QFile partial(partialPath(folder));
        QVERIFY(partial.open(QIODevice::ReadWrite));
        QVERIFY(partial.seek(1000) && partial.write("\x7f") == 1);
    }
    m_server.setRoute(path, route);
    const qint64 sentBefore = m_server.bodyBytesSent(path);
    QCOMPARE(update(folder, m_server.url(path)), kInstalled);
    QCOMPARE(readTree(folder.path()), installed(kOldFiles, expected));
    QVERIFY(m_server.bodyBytesSent(path) - sentBefore >= route.body.size());
    QVERIFY(!QFileInfo::exists(partialPath(folder)));
}

QTEST_GUILESS_MAIN(TestResume)
#include "tst_resume.moc"
