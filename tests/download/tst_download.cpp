// The download engine against a real HTTPS server on 127.0.0.1: what ends
// up in the temporary file, and the result the download is judged to have.

#include <QtTest>

#include <QFile>
#include <QSslCertificate>

#include "controller/CDefaultLibraryTestAccess.h"
#include "support/DownloadRun.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/SmallFilesystem.h"

Q_DECLARE_METATYPE(HttpsTestServer::Route)

namespace {

const qint64 kLimit = 10485760;

QByteArray bodyOfSize(qint64 size)
{
    QByteArray body;
    body.resize(static_cast<int>(size));
    quint32 state = 0x12345678u ^ static_cast<quint32>(size);
    for (int i = 0; i < body.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        body[i] = static_cast<char>(state >> 24);
    }
    return body;
}

int countLines(const QStringList& lines, const QString& text)
{
    int count = 0;
    for (const QString& line : lines)
        count += line.contains(text) ? 1 : 0;
    return count;
}

} // namespace

class TestDownload : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void outcomes_data();
    void outcomes();
    void closedPortIsNetworkError();
    void silentServerTimesOut();
    void slowServerDoesNotTimeOut();
    void pipeInErrorTextIsReplacedInDetails();
    void selfSignedCertificateIsLoggedPerError();
    void certificateErrorListIsLoggedInOrder();
    void fullDiskIsFileSystemError_data();
    void fullDiskIsFileSystemError();

private:
    HttpsTestServer m_server{TestCertificate::generate({QStringLiteral("Updater Test"), QStringLiteral("Second CN")})};
};

void TestDownload::initTestCase()
{
    QVERIFY(!m_server.certificate().isNull());
    QVERIFY(m_server.start());
}

void TestDownload::cleanupTestCase()
{
    m_server.stop();
}

void TestDownload::outcomes_data()
{
    QTest::addColumn<HttpsTestServer::Route>("route");
    QTest::addColumn<int>("expectedCode"); // 0: the download passes
    QTest::addColumn<QString>("detailsPrefix");
    QTest::addColumn<QString>("expectedLogLine");

    const QByteArray small = bodyOfSize(100 * 1024);
    const QByteArray atLimit = bodyOfSize(kLimit);
    const QByteArray overLimit = bodyOfSize(kLimit + 1);
    QTest::newRow("with length") << HttpsTestServer::file(small) << 0 << QString()
                                 << "CDefaultLibrary::checkContentLengthHeaderSize :: File size = 102400";
    QTest::newRow("without length") << HttpsTestServer::file(small, false) << 0 << QString()
                                    << "CDefaultLibrary::checkContentLengthHeaderSize :: File size = 0";
    QTest::newRow("one byte") << HttpsTestServer::file("x", false) << 0 << QString()
                              << "CDefaultLibrary::logReplyStatusCode :: reply status code=200";
    QTest::newRow("limit announced") << HttpsTestServer::file(atLimit) << 0 << QString()
                                     << "CDefaultLibrary::checkContentLengthHeaderSize :: File size = 10485760";
    QTest::newRow("limit unannounced") << HttpsTestServer::file(atLimit, false) << 0 << QString()
                                       << "CDefaultLibrary::saveDataFromReplyToFile :: New data received. Size=";
    QTest::newRow("404") << HttpsTestServer::notFound() << 47 << "[203] "
                         << "CDefaultLibrary::logReplyStatusCode :: reply status code=404";
    QTest::newRow("announced limit + 1")
        << HttpsTestServer::announcedLength(kLimit + 1, small.left(1000)) << 48 << QString()
        << "CDefaultLibrary::checkContentLengthHeaderSize :: File is oversized. File size = 10485761 bytes.";
    QTest::newRow("unannounced limit + 1")
        << HttpsTestServer::file(overLimit, false) << 48 << QString()
        << "CDefaultLibrary::handleFileIsOversizedError :: File is oversized error occurred.";
    QTest::newRow("understated length")
        << HttpsTestServer::announcedLength(1000, bodyOfSize(12 * 1024 * 1024)) << 0 << QString()
        << "CDefaultLibrary::checkContentLengthHeaderSize :: File size = 1000";
    QTest::newRow("unannounced 12 MiB")
        << HttpsTestServer::file(bodyOfSize(12 * 1024 * 1024), false) << 48 << QString()
        << "CDefaultLibrary::handleFileIsOversizedError :: File is oversized error occurred.";
    QTest::newRow("empty body") << HttpsTestServer::file(QByteArray()) << 41 << QString()
                                << "CDefaultLibrary::handleDownloadErrors :: Downloaded file is empty.";
}

void TestDownload::outcomes()
{
    QFETCH(HttpsTestServer::Route, route);
    QFETCH(int, expectedCode);
    QFETCH(QString, detailsPrefix);
    QFETCH(QString, expectedLogLine);

    const QString path = QStringLiteral("/outcomes/%1").arg(QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_'));
    m_server.setRoute(path, route);
    LogFile log;
    const DownloadOutcome outcome = runDownload(m_server.url(path));

    QVERIFY2(log.hasNewLine(expectedLogLine), qPrintable(log.newText().right(3000)));
    if (expectedCode == 0) {
        QVERIFY2(outcome.passed, qPrintable(QStringLiteral("%1 %2").arg(outcome.code).arg(outcome.details)));
        QCOMPARE(outcome.code, 0);
        const QByteArray expected = route.kind == HttpsTestServer::Route::AnnouncedLength
                                        ? route.body.left(static_cast<int>(route.announcedLength))
                                        : route.body;
        QCOMPARE(outcome.fileBytes.size(), expected.size());
        QVERIFY(outcome.fileBytes == expected);
    } else {
        QVERIFY(!outcome.passed);
        QCOMPARE(outcome.code, expectedCode);
        QVERIFY2(outcome.details.startsWith(detailsPrefix), qPrintable(outcome.details));
        QVERIFY(!outcome.details.contains(QLatin1Char('|')));
    }
    // Whatever the server sends, no more than the limit reaches the disk.
    QVERIFY(outcome.fileBytes.size() <= kLimit);
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::downloadFile :: Downloading file [%1] finished")
                               .arg(m_server.url(path))));
}

void TestDownload::closedPortIsNetworkError()
{
    const quint16 port = HttpsTestServer::closedPort();
    QVERIFY(port != 0);
    LogFile log;
    const DownloadOutcome outcome = runDownload(QStringLiteral("https://127.0.0.1:%1/file").arg(port));
    QCOMPARE(outcome.code, 45);
    QVERIFY2(outcome.details.startsWith(QLatin1String("[1] ")), qPrintable(outcome.details));
    QVERIFY(outcome.fileBytes.isEmpty());
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::handleNetworkError :: Connection error occurred: [1][")));
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::handleNetworkProxyErrors :: Network/Proxy error occurred.")));
}

void TestDownload::silentServerTimesOut()
{
    m_server.setRoute(QStringLiteral("/silent"), HttpsTestServer::silent());
    LogFile log;
    QElapsedTimer elapsed;
    elapsed.start();
    const DownloadOutcome outcome = runDownload(m_server.url(QStringLiteral("/silent")));
    qInfo("time-out after %lld ms", elapsed.elapsed());
    QCOMPARE(outcome.networkErrorCode, 4);
    QCOMPARE(outcome.code, 45);
    // The reply is still waiting, so its text is Qt's generic one.
    QVERIFY2(outcome.details.startsWith(QLatin1String("[4]")), qPrintable(outcome.details));
    QVERIFY(outcome.fileBytes.isEmpty());
    QVERIFY(log.hasNewLine(QStringLiteral("Connection error occurred: [4][Connection timed out]")));
}

// Each chunk restarts the ten-second countdown, so a transfer that lasts
// longer than that as a whole still completes.
void TestDownload::slowServerDoesNotTimeOut()
{
    const QByteArray body = bodyOfSize(3000);
    m_server.setRoute(QStringLiteral("/drip"), HttpsTestServer::drip(body, 1000, 9000, false));
    LogFile log;
    const DownloadOutcome outcome = runDownload(m_server.url(QStringLiteral("/drip")));
    QVERIFY2(outcome.passed, qPrintable(outcome.details));
    QVERIFY(outcome.fileBytes == body);
    QVERIFY(countLines(log.newLines(), QStringLiteral("Restarting QTimer")) >= 3);
    QVERIFY(!log.hasNewLine(QStringLiteral("Connection timed out")));
}

void TestDownload::pipeInErrorTextIsReplacedInDetails()
{
    m_server.setRoute(QStringLiteral("/pipe"), HttpsTestServer::notFound("Not|Found|Here"));
    LogFile log;
    const DownloadOutcome outcome = runDownload(m_server.url(QStringLiteral("/pipe")));
    QCOMPARE(outcome.code, 47);
    QVERIFY2(outcome.details.startsWith(QLatin1String("[203] ")), qPrintable(outcome.details));
    QVERIFY2(outcome.details.contains(QLatin1String("Not<PIPE>Found<PIPE>Here")), qPrintable(outcome.details));
    QVERIFY(!outcome.details.contains(QLatin1Char('|')));
    // The log keeps the text as the reply gave it.
    QVERIFY(log.hasNewLine(QStringLiteral("Connection error occurred: [203][")));
    QVERIFY(log.hasNewLine(QStringLiteral("server replied: Not|Found|Here]")));
}

void TestDownload::selfSignedCertificateIsLoggedPerError()
{
    const QByteArray body = bodyOfSize(5000);
    m_server.setRoute(QStringLiteral("/signed"), HttpsTestServer::file(body));
    LogFile log;
    const DownloadOutcome outcome = runDownload(m_server.url(QStringLiteral("/signed")));
    QVERIFY(outcome.passed);
    QVERIFY(outcome.fileBytes == body);

    const QList<QSslError> expected =
        QSslCertificate::verify({m_server.certificate().certificate()}, QStringLiteral("127.0.0.1"));
    QVERIFY(!expected.isEmpty());
    const QSslCertificate certificate = m_server.certificate().certificate();
    const QString names = certificate.subjectInfo(QSslCertificate::CommonName).join(QLatin1Char('|'));
    QVERIFY(names.contains(QLatin1String("Updater Test")) && names.contains(QLatin1String("Second CN")));
    const QStringList lines = log.newLines();
    QCOMPARE(countLines(lines, QStringLiteral("CDefaultLibrary::handleSSLError :: Ssl error occurred: [")),
             expected.size());
    for (const QSslError& error : expected) {
        QVERIFY2(countLines(lines, QStringLiteral("Ssl error occurred: [%1][%2], issuerCN: %3, subjectCN: %3")
                                       .arg(static_cast<int>(error.error()))
                                       .arg(error.errorString(), names))
                     == 1,
                 qPrintable(log.newText().left(3000)));
    }
}

void TestDownload::certificateErrorListIsLoggedInOrder()
{
    const QSslCertificate certificate = m_server.certificate().certificate();
    const QList<QSslError> errors = {QSslError(QSslError::CertificateExpired, certificate),
                                     QSslError(QSslError::HostNameMismatch, certificate),
                                     QSslError(QSslError::SelfSignedCertificate, QSslCertificate())};
    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    LogFile log;
    access.handleSSLErrors(errors);

    QStringList lines;
    for (const QString& line : log.newLines()) {
        if (line.contains(QLatin1String("CDefaultLibrary::handleSSLError :: ")))
            lines.append(line);
    }
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).contains(QStringLiteral("[%1][").arg(int(QSslError::CertificateExpired))));
    QVERIFY(lines.at(1).contains(QStringLiteral("[%1][").arg(int(QSslError::HostNameMismatch))));
    QVERIFY(lines.at(2).contains(QStringLiteral("[%1][").arg(int(QSslError::SelfSignedCertificate))));
    // A certificate without names gives empty name lists.
    QVERIFY(lines.at(2).endsWith(QLatin1String("issuerCN: , subjectCN: ")));
    QVERIFY(!access.networkError());
}

void TestDownload::fullDiskIsFileSystemError_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("far over the free space") << 3 * 1024 * 1024;
    // tmpfs accounts its blocks per CPU in batches, so a file only a few
    // bytes over the limit sometimes still fits: stay clearly over it.
    QTest::newRow("a little over the free space") << 1024 * 1024 + 64 * 1024;
}

// A disk that fills up during the download must not pass an incomplete
// file on as if it had arrived whole.
void TestDownload::fullDiskIsFileSystemError()
{
    QFETCH(int, size);
    const QString path = QStringLiteral("/full/%1").arg(size);
    m_server.setRoute(path, HttpsTestServer::file(bodyOfSize(size)));
    SmallFilesystem folder(QStringLiteral("1m"));
    QVERIFY2(folder.isMounted(), qPrintable(folder.error()));
    folder.becomeTemporaryFolder();
    const DownloadOutcome outcome = runDownload(m_server.url(path));
    QCOMPARE(outcome.code, 41);
}

QTEST_MAIN(TestDownload)
#include "tst_download.moc"
