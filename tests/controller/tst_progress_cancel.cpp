// The host's side of a running Update, through the built library: progress
// reports in the context's "progressReceiver", CancelUpdate from the
// progress slot and from another thread, and a second call while one runs.
// The package drips from the project's HTTPS server in 32 pieces 30 ms
// apart, so that the download takes about a second.

#include <QtTest>

#include <QLibrary>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <updater/updater.h>

#include "module/ResultTexts.h"
#include "support/FileTools.h"
#include "support/HttpsTestServer.h"
#include "support/ProgressReceiver.h"
#include "support/TestPaths.h"
#include "support/TreeSnapshot.h"
#include "support/VerificationSupport.h"
#include "support/ZipBuilder.h"

using Report = ProgressReceiver::Report;

class TestProgressCancel : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void progressReportsEachPhase();
    void whileOneRuns_data();
    void whileOneRuns();
    void cancelWhileInstalling_data();
    void cancelWhileInstalling();

private:
    QByteArray update(ProgressReceiver& receiver)
    {
        return m_update({{"url", m_server.url(QStringLiteral("/drip.ztx")).toUtf8()}}, receiver.context());
    }

    QLibrary m_library;
    updater::WorkFunction m_update = nullptr;
    updater::CancelFunction m_cancel = nullptr;
    HttpsTestServer m_server;
    QByteArray m_package;
    QTemporaryDir m_installation;
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
    m_server.setRoute(QStringLiteral("/drip.ztx"), HttpsTestServer::drip(m_package, m_package.size() / 32 + 1, 30));
    QVERIFY(QDir::setCurrent(m_installation.path()));
}

void TestProgressCancel::progressReportsEachPhase()
{
    ProgressReceiver receiver;
    QCOMPARE(update(receiver), ResultTexts::fileUpdated().serialize());

    const QVector<Report>& reports = receiver.reports;
    int last = 0; // the download's last report
    while (last + 1 < reports.size() && reports.at(last + 1).phase == QLatin1String("download"))
        ++last;
    QVERIFY(last > 5);
    QCOMPARE(reports.first().phase, QStringLiteral("download"));
    QCOMPARE(reports.first().done, 0);
    for (int i = 1; i <= last; ++i) {
        QVERIFY(reports.at(i).done >= reports.at(i - 1).done);
        // Between the first report and the last, at most 20 a second and
        // at least every 250 ms (loosely: the machine is shared).
        const qint64 gap = reports.at(i).atMs - reports.at(i - 1).atMs;
        QVERIFY2((i == 1 || i == last || gap >= 45) && gap <= 750, qPrintable(QString::number(gap)));
    }
    const qint64 size = m_package.size();
    QCOMPARE(reports.at(last).done, size);
    QCOMPARE(reports.at(last).total, size);
    // Then each phase in turn, from a start at 0 to an end at its total,
    // never going back.
    QStringList phases;
    for (int i = 0; i < reports.size(); ++i) {
        const Report& report = reports.at(i);
        const bool starts = i == 0 || reports.at(i - 1).phase != report.phase;
        const bool ends = i + 1 == reports.size() || reports.at(i + 1).phase != report.phase;
        if (starts) {
            phases.append(report.phase);
            QCOMPARE(report.done, 0);
        } else {
            QVERIFY(report.done >= reports.at(i - 1).done);
        }
        if (ends)
            QVERIFY2(!starts && report.done == report.total, qPrintable(report.phase));
    }
    QCOMPARE(phases, (QStringList{"download", "verify", "unpack", "install", "clean-up"}));
}

// At half the download, from the progress slot or from another thread:
// CancelUpdate ends the call with 41 and the folder as it was; a second
// Update returns 41 at once and the running one installs.
void TestProgressCancel::whileOneRuns_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("fromThread");
    QTest::newRow("cancel from the progress slot") << true << false;
    QTest::newRow("cancel from another thread") << true << true;
    QTest::newRow("second Update from the progress slot") << false << false;
    QTest::newRow("second Update from another thread") << false << true;
}

void TestProgressCancel::whileOneRuns()
{
    QFETCH(bool, cancel);
    QFETCH(bool, fromThread);
    QVERIFY(FileTools::writeFile(QStringLiteral("app.bin"), "installed"));
    const TreeSnapshot before = TreeSnapshot::take(QDir::currentPath());
    const qint64 sentBefore = m_server.bodyBytesSent(QStringLiteral("/drip.ztx"));
    const updater::Request other{{"url", m_server.url(QStringLiteral("/other.ztx")).toUtf8()}};
    QByteArray second;
    const auto act = [&]() {
        if (cancel)
            m_cancel();
        else
            second = m_update(other, {});
    };
    std::atomic<bool> halfway(false);
    std::thread thread([&]() {
        while (fromThread && !halfway)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (fromThread)
            act();
    });
    ProgressReceiver receiver;
    receiver.onReport = [&](const Report& report) {
        if (report.phase == QLatin1String("download") && report.done >= m_package.size() / 2 && !halfway.exchange(true)
            && !fromThread)
            act();
    };
    const QByteArray result = update(receiver);
    halfway = true;
    thread.join();

    const qint64 sent = m_server.bodyBytesSent(QStringLiteral("/drip.ztx")) - sentBefore;
    if (cancel) {
        QCOMPARE(result, ResultTexts::operationAborted().serialize());
        const TreeSnapshot after = TreeSnapshot::take(QDir::currentPath());
        QVERIFY2(before == after, qPrintable(before.differences(after)));
        QVERIFY(sent < m_package.size() * 9 / 10);
    } else {
        QCOMPARE(result, ResultTexts::fileUpdated().serialize());
        QCOMPARE(second, ResultTexts::operationAborted().serialize());
        QVERIFY(!m_server.requestedPaths().contains(QStringLiteral("/other.ztx")));
    }
}

// CancelUpdate as a phase of the installation begins: before the commit
// point the call ends with 41 and the installation as it was; during the
// clean-up, when it comes too late, the installation stands.
void TestProgressCancel::cancelWhileInstalling_data()
{
    QTest::addColumn<QString>("phase");
    QTest::addColumn<bool>("installs");
    QTest::newRow("unpack") << "unpack" << false;
    QTest::newRow("install") << "install" << false;
    QTest::newRow("clean-up") << "clean-up" << true;
}

void TestProgressCancel::cancelWhileInstalling()
{
    QFETCH(QString, phase);
    QFETCH(bool, installs);
    ZipBuilder zip;
    for (int i = 0; i < 300; ++i) {
        QVERIFY(FileTools::writeFile(QStringLiteral("lib/f%1.bin").arg(i), "old"));
        zip.file(QStringLiteral("lib/f%1.bin").arg(i), "new");
    }
    const TreeSnapshot before = TreeSnapshot::take(QDir::currentPath(), {QStringLiteral("UPDATES")});
    const auto updateFromData = reinterpret_cast<updater::WorkFunction>(m_library.resolve(updater::UpdateFromDataName));
    ProgressReceiver receiver;
    receiver.onReport = [&](const Report& report) {
        if (report.phase == phase)
            m_cancel();
    };
    const QByteArray result = updateFromData({{"data", VerificationSupport::signedPackage(zip.bytes()).toBase64()}},
                                             receiver.context());
    const TreeSnapshot after = TreeSnapshot::take(QDir::currentPath(), {QStringLiteral("UPDATES")});
    if (installs) {
        QCOMPARE(result, ResultTexts::fileUpdated().serialize());
        QCOMPARE(FileTools::readFile(QStringLiteral("lib/f299.bin")), QByteArray("new"));
        QVERIFY(std::any_of(receiver.reports.cbegin(), receiver.reports.cend(),
                            [&](const Report& report) { return report.phase == phase; }));
    } else {
        QCOMPARE(result, ResultTexts::operationAborted().serialize());
        QVERIFY2(before == after, qPrintable(before.differences(after)));
    }
    QCOMPARE(QDir(QStringLiteral("UPDATES")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(TestProgressCancel)
#include "tst_progress_cancel.moc"
