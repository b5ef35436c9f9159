// Nothing crosses the library boundary: the test build of the library throws
// (a std::exception, std::bad_alloc, an int) at a point below each export,
// inside a real host process (export-fault-host); the host gets the export's
// failure result, the log says what was thrown, the temporary file is gone
// and the host's look is as it was.

#include <QtTest>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <updater/version.h>

#include "module/ResultTexts.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/TestPaths.h"

namespace {

const QByteArray kFileSystemError = ResultTexts::fileSystemError().serialize();

} // namespace

class TestExportFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void nothingEscapes_data();
    void nothingEscapes();

private:
    HttpsTestServer m_server;
};

void TestExportFaults::initTestCase()
{
    QVERIFY2(QFileInfo::exists(QStringLiteral(UPDATER_FAULTS_LIBRARY_PATH)), "the test build of the library is missing");
    QVERIFY(m_server.start());
    m_server.setRoute(QStringLiteral("/package.ztx"), HttpsTestServer::file(QByteArray(4096, 'p')));
}

void TestExportFaults::cleanupTestCase()
{
    m_server.stop();
}

void TestExportFaults::nothingEscapes_data()
{
    QTest::addColumn<QString>("exportName");
    QTest::addColumn<QStringList>("request");
    QTest::addColumn<QString>("fault"); // empty: none, the export's own answer
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("logLine");

    const QString url = QStringLiteral("url=") + m_server.url(QStringLiteral("/package.ztx"));
    const QString data = QStringLiteral("data=") + QString::fromLatin1(QByteArray(4096, 'p').toBase64());
    const QString error = QStringLiteral("connectionErrorCode=E7");
    const QByteArray networkError = ResultTexts::networkProxyError(QStringLiteral("E7")).serialize();
    const QString what41 = QStringLiteral(" :: Unexpected exception, the call ends with result 41: ");

    struct Kind {
        const char* action;
        const char* what;
    };
    const QList<Kind> kinds = {{"throw", "injected fault at package-verification:1"},
                               {"bad-alloc", "std::bad_alloc"},
                               {"throw-int", "an exception of unknown type (not a std::exception)"}};
    for (const Kind& kind : kinds) {
        const QString action = QString::fromLatin1(kind.action);
        QTest::addRow("Update, %s", kind.action)
            << "Update" << QStringList{url} << "package-verification:1:" + action << kFileSystemError
            << "WARN  - Update" + what41 + kind.what;
        QTest::addRow("UpdateFromData, %s", kind.action)
            << "UpdateFromData" << QStringList{data} << "package-verification:1:" + action << kFileSystemError
            << "WARN  - UpdateFromData" + what41 + kind.what;
        // Thrown after the first dialog was shown with the module's look.
        QTest::addRow("ShowConnectionWarning, %s", kind.action)
            << "ShowConnectionWarning" << QStringList{error} << "connection-warning-dialogs:1:" + action
            << networkError << "WARN  - ShowConnectionWarning :: Unexpected exception, the call ends with result 45: ";
    }
    QTest::newRow("ShowConnectionWarning, no fault")
        << "ShowConnectionWarning" << QStringList{error} << QString()
        << ResultTexts::operationAborted().serialize() << "Operation cancelled";

    QTest::newRow("GetModuleVersion") << "GetModuleVersion" << QStringList() << "export-version:1:throw"
                                      << QByteArray("0|" UPDATER_VERSION)
                                      << "WARN  - GetModuleVersion :: Unexpected exception, the version is "
                                         "returned all the same: injected fault at export-version:1";
    QTest::newRow("Init") << "Init" << QStringList() << "export-init:1:throw" << QByteArray("0")
                          << "WARN  - Init :: Unexpected exception, Init returns 0: injected fault at export-init:1";
    QTest::newRow("DeInit") << "DeInit" << QStringList() << "export-deinit:1:bad-alloc" << QByteArray("returned")
                            << "WARN  - DeInit :: Unexpected exception, ignored: std::bad_alloc";
    // Update is no GUI function and may run unprivileged; on failure the
    // answers are the cautious ones.
    QTest::newRow("IsGuiFunction") << "IsGuiFunction" << QStringList() << "export-is-gui-function:1:throw-int"
                                   << QByteArray("true") << "WARN  - IsGuiFunction :: Unexpected exception, it returns true";
    QTest::newRow("IsGuiFunction, no fault")
        << "IsGuiFunction" << QStringList() << QString() << QByteArray("false") << QString();
    QTest::newRow("CanUnprivilegedRun") << "CanUnprivilegedRun" << QStringList()
                                        << "export-can-unprivileged-run:1:throw" << QByteArray("false")
                                        << "WARN  - CanUnprivilegedRun :: Unexpected exception, it returns false";
    QTest::newRow("CanUnprivilegedRun, no fault")
        << "CanUnprivilegedRun" << QStringList() << QString() << QByteArray("true") << QString();
}

void TestExportFaults::nothingEscapes()
{
    QFETCH(QString, exportName);
    QFETCH(QStringList, request);
    QFETCH(QString, fault);
    QFETCH(QByteArray, expected);
    QFETCH(QString, logLine);

    QTemporaryDir temporaryFolder;
    QTemporaryDir installation;
    QTemporaryDir runtime;
    QVERIFY(temporaryFolder.isValid() && installation.isValid() && runtime.isValid());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("UPDATER_FAULT"), fault);
    environment.insert(QStringLiteral("TMPDIR"), temporaryFolder.path());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());

    LogFile log(LogFile::pathFor(QStringLiteral("tst_export_faults")));
    QProcess host;
    host.setProcessEnvironment(environment);
    host.setWorkingDirectory(installation.path());
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(TestPaths::binaryDir() + QStringLiteral("/bin/export-fault-host"),
               QStringList{QStringLiteral(UPDATER_FAULTS_LIBRARY_PATH), exportName} + request);
    QVERIFY(host.waitForFinished(60000));
    QCOMPARE(host.exitStatus(), QProcess::NormalExit);
    QCOMPARE(host.exitCode(), 0);
    const QList<QByteArray> lines = host.readAllStandardOutput().split('\n');
    QCOMPARE(lines.value(0), expected);
    QCOMPARE(lines.value(1), QByteArray("look kept"));
    if (!logLine.isEmpty())
        QVERIFY2(log.hasNewLine(logLine), qPrintable(log.newText()));
    if (fault.isEmpty())
        QVERIFY(!log.hasNewLine(QStringLiteral("Unexpected exception")));

    // The controller was unwound: its temporary file is gone, nothing was
    // installed.
    QCOMPARE(QDir(temporaryFolder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QCOMPARE(QDir(installation.path()).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(TestExportFaults)
#include "tst_export_faults.moc"
