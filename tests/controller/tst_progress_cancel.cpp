// The host's side of a running Update, through the built library: progress
// reports in the context's "progressReceiver", CancelUpdate from the
// progress slot and from another thread, and a second call while one runs.
// The package drips from the project's HTTPS server, so that the download
// takes about a second.

#include <QtTest>

#include <QElapsedTimer>
#include <QLibrary>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <thread>

#include <updater/updater.h>

#include "module/ResultTexts.h"
#include "support/FileTools.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/TestPaths.h"
#include "support/TreeSnapshot.h"
#include "support/VerificationSupport.h"
#include "support/ZipBuilder.h"

namespace {

const QByteArray kInstalled = ResultTexts::fileUpdated().serialize();
const QByteArray kAborted = ResultTexts::operationAborted().serialize();

struct Report {
    QString phase;
    qint64 done;
    qint64 total;
    qint64 atMs;
};

} // namespace

class Receiver : public QObject
{
    Q_OBJECT

public:
    QVector<Report> reports;
    std::function<void(const Report&)> onReport;
    QElapsedTimer clock;

public slots:
    void updateProgress(QString phase, qint64 done, qint64 total)
    {
        reports.append({phase, done, total, clock.elapsed()});
        if (onReport)
            onReport(reports.last());
    }
};

class TestProgressCancel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void progressReportsEachPhase();
    void cancelEndsTheCallWithTheFolderAsItWas_data();
    void cancelEndsTheCallWithTheFolderAsItWas();
    void secondCallWhileOneRunsChangesNothing_data();
    void secondCallWhileOneRunsChangesNothing();

private:
    QByteArray update(Receiver& receiver);

    QLibrary m_library;
    updater::WorkFunction m_update = nullptr;
    updater::CancelFunction m_cancel = nullptr;
    HttpsTestServer m_server;
    QByteArray m_package;
    QScopedPointer<QTemporaryDir> m_installation;
    QString m_startDir;
};

void TestProgressCancel::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_progress_cancel"));
    m_library.setFileName(TestPaths::libraryPath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    m_update = reinterpret_cast<updater::WorkFunction>(m_library.resolve(updater::UpdateName));
    m_cancel = reinterpret_cast<updater::CancelFunction>(m_library.resolve(updater::CancelUpdateName));
    QVERIFY(m_update && m_cancel);
    m_package = VerificationSupport::signedPackage(
        ZipBuilder().file(QStringLiteral("app.bin"), incompressibleBytes(4 * 1024 * 1024, 3)).bytes());
    QVERIFY(m_server.start());
    // 32 pieces, 30 ms apart.
    m_server.setRoute(QStringLiteral("/drip.ztx"), HttpsTestServer::drip(m_package, m_package.size() / 32 + 1, 30));
    m_startDir = QDir::currentPath();
}

void TestProgressCancel::init()
{
    m_installation.reset(new QTemporaryDir);
    QVERIFY(QDir::setCurrent(m_installation->path()));
    QVERIFY(FileTools::writeFile(QStringLiteral("app.bin"), "installed"));
}

void TestProgressCancel::cleanup()
{
    QDir::setCurrent(m_startDir);
    m_installation.reset();
}

QByteArray TestProgressCancel::update(Receiver& receiver)
{
    receiver.clock.start();
    return m_update({{"url", m_server.url(QStringLiteral("/drip.ztx")).toUtf8()}},
                    {{"progressReceiver", QVariant::fromValue<QObject*>(&receiver)}});
}

void TestProgressCancel::progressReportsEachPhase()
{
    Receiver receiver;
    QCOMPARE(update(receiver), kInstalled);

    const QVector<Report>& reports = receiver.reports;
    QVERIFY(reports.size() > 4);
    QCOMPARE(reports.first().phase, QStringLiteral("download"));
    QCOMPARE(reports.first().done, 0);
    int download = 0;
    for (int i = 0; i < reports.size(); ++i) {
        const Report& report = reports.at(i);
        if (report.phase != QLatin1String("download"))
            break;
        download = i;
        if (i > 0) {
            QVERIFY(report.done >= reports.at(i - 1).done);
            // Between the first report and the last, at most 20 a second
            // and at least every 250 ms (loosely, on a busy machine).
            const qint64 gap = report.atMs - reports.at(i - 1).atMs;
            if (i > 1 && i + 1 < reports.size() && reports.at(i + 1).phase == report.phase)
                QVERIFY2(gap >= 45, qPrintable(QString::number(gap)));
            QVERIFY2(gap <= 750, qPrintable(QString::number(gap)));
        }
    }
    QVERIFY(download > 5);
    QCOMPARE(reports.at(download).done, qint64(m_package.size()));
    QCOMPARE(reports.at(download).total, qint64(m_package.size()));
    // Then the check: its start and its end.
    QCOMPARE(reports.at(download + 1).phase, QStringLiteral("verify"));
    QCOMPARE(reports.at(download + 1).total, qint64(m_package.size()));
    QCOMPARE(reports.at(download + 2).phase, QStringLiteral("verify"));
    QCOMPARE(reports.at(download + 2).done, qint64(m_package.size()));
}

void TestProgressCancel::cancelEndsTheCallWithTheFolderAsItWas_data()
{
    QTest::addColumn<bool>("fromThread");
    QTest::newRow("from the progress slot") << false;
    QTest::newRow("from another thread") << true;
}

void TestProgressCancel::cancelEndsTheCallWithTheFolderAsItWas()
{
    QFETCH(bool, fromThread);
    const TreeSnapshot before = TreeSnapshot::take(QDir::currentPath());
    const qint64 half = m_package.size() / 2;
    const qint64 sentBefore = m_server.bodyBytesSent(QStringLiteral("/drip.ztx"));
    std::atomic<bool> halfway(false);
    Receiver receiver;
    receiver.onReport = [&](const Report& report) {
        if (report.phase == QLatin1String("download") && report.done >= half && !halfway.exchange(true)
            && !fromThread)
            m_cancel();
    };
    std::thread canceller([&]() {
        while (fromThread && !halfway)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (fromThread)
            m_cancel();
    });
    LogFile log(LogFile::pathFor(QStringLiteral("tst_progress_cancel")));
    const QByteArray result = update(receiver);
    halfway = true;
    canceller.join();
    QCOMPARE(result, kAborted);
    const TreeSnapshot after = TreeSnapshot::take(QDir::currentPath());
    QVERIFY2(before == after, qPrintable(before.differences(after)));
    // It stopped well before the end.
    QVERIFY(m_server.bodyBytesSent(QStringLiteral("/drip.ztx")) - sentBefore < m_package.size() * 9 / 10);
    QVERIFY(log.hasNewLine(QStringLiteral("Operation cancelled by the host")));
}

void TestProgressCancel::secondCallWhileOneRunsChangesNothing_data()
{
    QTest::addColumn<bool>("fromThread");
    QTest::newRow("from the progress slot") << false;
    QTest::newRow("from another thread") << true;
}

void TestProgressCancel::secondCallWhileOneRunsChangesNothing()
{
    QFETCH(bool, fromThread);
    const updater::Request other{{"url", m_server.url(QStringLiteral("/other.ztx")).toUtf8()}};
    QByteArray second;
    Receiver receiver;
    receiver.onReport = [&](const Report& report) {
        if (!second.isEmpty() || report.done == 0)
            return;
        if (fromThread)
            std::thread([&]() { second = m_update(other, {}); }).join();
        else
            second = m_update(other, {});
    };
    LogFile log(LogFile::pathFor(QStringLiteral("tst_progress_cancel")));
    QCOMPARE(update(receiver), kInstalled);
    QCOMPARE(second, kAborted);
    QVERIFY(!m_server.requestedPaths().contains(QStringLiteral("/other.ztx")));
    QVERIFY(log.hasNewLine(QStringLiteral("WARN  - CDefaultLibrary::Update :: Another Update or UpdateFromData is "
                                          "running in this process")));
}

QTEST_GUILESS_MAIN(TestProgressCancel)
#include "tst_progress_cancel.moc"
