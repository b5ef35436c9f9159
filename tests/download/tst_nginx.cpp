// Update against Debian's nginx on 127.0.0.1, as packages are really hosted:
// HTTPS with HTTP/2 offered and with HTTP/1.1 only, gzip and keep-alive on,
// redirect chains (to another host too), a rate limit, 404 and 503. Each
// case installs, or gives its result with the installation folder as it was.

#include <QtTest>

#include <QCryptographicHash>
#include <QRegularExpression>

#include <updater/version.h>

#include "UpdateRun.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/NginxProcess.h"

using namespace FileTools;
using namespace InstallationTestTools;

namespace {

const Tree kOldFiles = {{QStringLiteral("app.bin"), "old app"}, {QStringLiteral("keep.txt"), "kept"}};
const Tree kNewFiles = {{QStringLiteral("app.bin"), "new app"},
                        {QStringLiteral("lib/data.bin"), incompressibleBytes(64 * 1024, 7)}};

UpdateRun update(const QString& url, const QByteArray& sha256 = QByteArray())
{
    QMap<QByteArray, QByteArray> request{{"url", url.toUtf8()}};
    if (!sha256.isEmpty())
        request.insert("sha256", sha256);
    return runUpdate(kOldFiles, request);
}

int count(const QStringList& lines, const QString& text)
{
    int n = 0;
    for (const QString& line : lines)
        n += line.contains(text) ? 1 : 0;
    return n;
}

} // namespace

class TestNginx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void redirects_data();
    void redirects();
    void redirectChainKeepsTheConnection();
    void serving_data();
    void serving();

private:
    QString url(const QString& path, quint16 port = 0) const
    {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(port ? port : m_nginx.http2Port()).arg(path);
    }

    NginxProcess m_nginx;
    HttpsTestServer m_storage; // the host a release download is redirected to
    QByteArray m_package;
};

void TestNginx::initTestCase()
{
    m_package = signedPackage(kNewFiles);
    QVERIFY(!m_package.isEmpty());
    QVERIFY(m_storage.start());
    m_storage.setRoute(QStringLiteral("/app.ztx"), HttpsTestServer::file(m_package));

    QByteArray locations;
    for (const char* status : {"301", "302", "303", "307", "308"})
        locations += QByteArray("location = /r") + status + " { return " + status + " /app.ztx; }\n";
    locations += "location = /relative { absolute_redirect off; return 302 app.ztx; }\n";
    locations += "location = /chain { return 301 /chain2; }\n";
    locations += "location = /chain2 { return 302 " + m_storage.url(QStringLiteral("/app.ztx")).toUtf8() + "; }\n";
    locations += "location = /h1 { return 302 /app.ztx; }\n";
    for (int hop = 2; hop <= 11; ++hop)
        locations += "location = /h" + QByteArray::number(hop) + " { return 302 /h" + QByteArray::number(hop - 1)
                     + "; }\n";
    locations += "location = /loop1 { return 302 /loop2; }\nlocation = /loop2 { return 301 /loop1; }\n";
    // Served, were it followed: the refusal is the module's.
    locations += "location = /to-http { return 302 http://127.0.0.1:" + QByteArray::number(m_nginx.plainPort())
                 + "/app.ztx; }\n";
    locations += "location = /no-target { return 300 'pick one'; }\n";
    locations += "location = /busy { return 503; }\n";
    // The package takes about two seconds at this rate.
    locations += "location /slow/ { limit_rate 32k; }\n";
    QVERIFY2(m_nginx.start(locations), qPrintable(m_nginx.errorString()));
    QVERIFY(writeFile(m_nginx.root() + QStringLiteral("/app.ztx"), m_package));
    QVERIFY(writeFile(m_nginx.root() + QStringLiteral("/slow/app.ztx"), m_package));
    // Small on the wire with gzip, far over the size limit once inflated.
    QVERIFY(writeFile(m_nginx.root() + QStringLiteral("/zeros.ztx"), QByteArray(12 * 1024 * 1024, '\0')));
}

void TestNginx::redirects_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("details");
    QTest::addColumn<QStringList>("requests"); // what the servers were asked for, in order
    QTest::addColumn<QStringList>("logLines");

    for (const char* status : {"301", "302", "303", "307", "308"}) {
        const QString path = QStringLiteral("/r") + QLatin1String(status);
        QTest::newRow(status) << path << 0 << QString() << QStringList{path, QStringLiteral("/app.ztx")}
                              << QStringList{QStringLiteral("reply status code=%1").arg(QLatin1String(status)),
                                             QStringLiteral("reply status code=200")};
    }
    QTest::newRow("relative Location") << QStringLiteral("/relative") << 0 << QString()
                                       << QStringList{QStringLiteral("/relative"), QStringLiteral("/app.ztx")}
                                       << QStringList();
    // The last request goes to the other host.
    QTest::newRow("301, 302 to another host, 200")
        << QStringLiteral("/chain") << 0 << QString()
        << QStringList{QStringLiteral("/chain"), QStringLiteral("/chain2"), QStringLiteral("/app.ztx")}
        << QStringList();
    QStringList hops;
    for (int hop = 11; hop >= 1; --hop)
        hops << QStringLiteral("/h%1").arg(hop);
    QTest::newRow("10 hops") << QStringLiteral("/h10") << 0 << QString()
                             << hops.mid(1) + QStringList{QStringLiteral("/app.ztx")} << QStringList();
    QTest::newRow("11 hops") << QStringLiteral("/h11") << 47 << QStringLiteral("[10] Too many redirects: ") << hops
                             << QStringList();
    QTest::newRow("loop") << QStringLiteral("/loop1") << 47 << QStringLiteral("[10] Redirect loop: ")
                          << QStringList{QStringLiteral("/loop1"), QStringLiteral("/loop2")} << QStringList();
    QTest::newRow("https to http") << QStringLiteral("/to-http") << 47 << QStringLiteral("[11] Insecure redirect: ")
                                   << QStringList{QStringLiteral("/to-http")} << QStringList();
    QTest::newRow("300 without a target") << QStringLiteral("/no-target") << 47 << QStringLiteral("[299] Not a package: ")
                                          << QStringList{QStringLiteral("/no-target")} << QStringList();
}

void TestNginx::redirects()
{
    QFETCH(QString, path);
    QFETCH(int, code);
    QFETCH(QString, details);
    QFETCH(QStringList, requests);
    QFETCH(QStringList, logLines);

    const int before = m_nginx.accessLog().count(QLatin1Char('\n'));
    const int storageBefore = m_storage.requestedPaths().size();
    LogFile log;
    const UpdateRun run = update(url(path));
    QCOMPARE(run.code(), code);
    if (code == 0) {
        QCOMPARE(run.tree, installed(kOldFiles, kNewFiles));
    } else {
        QVERIFY2(run.details().startsWith(details.toUtf8()), run.result.constData());
        QCOMPARE(run.result.count('|'), 2);
        QCOMPARE(run.tree, kOldFiles);
        QVERIFY(!run.updatesFolder);
        // No redirect body ever reached verification.
        QVERIFY(!log.hasNewLine(QStringLiteral("verifyDownloadedFile")));
    }
    // Each redirect followed, none beyond a refused one.
    QStringList received;
    for (const QString& line : m_nginx.accessLog().split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(before))
        received << line.section(QLatin1Char(' '), 0, 0);
    received += m_storage.requestedPaths().mid(storageBefore);
    QCOMPARE(received, requests);
    for (const QString& line : logLines)
        QVERIFY2(log.hasNewLine(line), qPrintable(line + QStringLiteral("\n") + log.newText().right(4000)));
    // One status line per answer.
    QCOMPARE(count(log.newLines(), QStringLiteral("reply status code=")), requests.size());
}

// Redirects on one host go over one kept-alive connection.
void TestNginx::redirectChainKeepsTheConnection()
{
    const int before = m_nginx.accessLog().count(QLatin1Char('\n'));
    QCOMPARE(update(url(QStringLiteral("/h3"))).result.left(2), QByteArray("0|"));
    const QStringList lines = m_nginx.accessLog().split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(before);
    QCOMPARE(lines.size(), 4);
    const QRegularExpression connection(QStringLiteral(" connection=(\\d+) requests=(\\d+) "));
    QStringList connections;
    for (const QString& line : lines)
        connections << connection.match(line).captured(1);
    QCOMPARE(connections.count(connections.first()), 4);
    QCOMPARE(connection.match(lines.last()).captured(2), QStringLiteral("4"));
    // The module names itself in every request.
    QVERIFY2(lines.last().contains(QStringLiteral("agent=\"updater/" UPDATER_VERSION "\"")), qPrintable(lines.last()));
}

void TestNginx::serving_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<QByteArray>("sha256");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("details");

    const QByteArray sha256 = QCryptographicHash::hash(m_package, QCryptographicHash::Sha256).toHex();
    QTest::newRow("HTTP/2 offered") << url(QStringLiteral("/app.ztx")) << QByteArray() << 0 << QString();
    QTest::newRow("HTTP/1.1 only") << url(QStringLiteral("/app.ztx"), m_nginx.http1Port()) << QByteArray() << 0
                                   << QString();
    QTest::newRow("rate limited") << url(QStringLiteral("/slow/app.ztx")) << QByteArray() << 0 << QString();
    QTest::newRow("sha256 after redirects") << url(QStringLiteral("/chain")) << sha256 << 0 << QString();
    QTest::newRow("other sha256 after redirects") << url(QStringLiteral("/r302")) << QByteArray(64, 'a') << 43
                                                  << QStringLiteral("downloaded file can't be verified");
    QTest::newRow("404") << url(QStringLiteral("/missing.ztx")) << QByteArray() << 47 << QStringLiteral("[203] ");
    QTest::newRow("503") << url(QStringLiteral("/busy")) << QByteArray() << 47 << QStringLiteral("[403] ");
    QTest::newRow("12 MiB inflated from gzip") << url(QStringLiteral("/zeros.ztx")) << QByteArray() << 48
                                               << QStringLiteral("file is oversized, downloading was aborted");
}

void TestNginx::serving()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, sha256);
    QFETCH(int, code);
    QFETCH(QString, details);

    const int before = m_nginx.accessLog().count(QLatin1Char('\n'));
    const UpdateRun run = update(url, sha256);
    QCOMPARE(run.code(), code);
    QVERIFY2(run.details().startsWith(details.toUtf8()), run.result.constData());
    QCOMPARE(run.tree, code == 0 ? installed(kOldFiles, kNewFiles) : kOldFiles);
    QCOMPARE(run.updatesFolder, code == 0);
    // The package went out gzip-compressed.
    for (const QString& line : m_nginx.accessLog().split(QLatin1Char('\n'), Qt::SkipEmptyParts).mid(before)) {
        if (line.contains(QLatin1String(".ztx 200 ")))
            QVERIFY2(!line.contains(QStringLiteral(" gzip=- ")), qPrintable(line));
    }
}

QTEST_GUILESS_MAIN(TestNginx)
#include "tst_nginx.moc"
