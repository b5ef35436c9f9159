// Update and UpdateFromData end to end: the built library loaded with
// QLibrary by updater-host, a separate process whose current directory is a
// fresh installation folder, with packages made by ztx, downloaded from a
// real HTTPS server on 127.0.0.1 (directly and through tinyproxy) or passed
// in the request.

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "InstallationTestTools.h"
#include "module/ResultTexts.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/TestPaths.h"
#include "support/TinyProxyProcess.h"
#include "support/TreeSnapshot.h"
#include "support/VerificationSupport.h"
#include "support/ZipBuilder.h"

#include <updater/updater.h>

using namespace FileTools;
using namespace InstallationTestTools;

namespace {

const QStringList kUpdates = {QStringLiteral("UPDATES")};
const QByteArray kInstalled = ResultTexts::fileUpdated().serialize();
const QByteArray kVerificationError = ResultTexts::verificationError().serialize();
const QByteArray kFileSystemError = ResultTexts::fileSystemError().serialize();
const QByteArray kOversized = ResultTexts::fileOversized().serialize();

struct HostRun {
    bool finished = false;
    int exitCode = -1;
    QByteArray result; // the line the host printed
    QString errors;
};

QString program(const QString& name)
{
    return TestPaths::binaryDir() + QStringLiteral("/bin/") + name;
}

QString privateKey()
{
    return TestPaths::sourceDir() + QStringLiteral("/tests/keys/test-private.pem");
}

} // namespace

class TestUpdateFlows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void updateFromDataInstalls();
    void updateFromHttpsServerInstalls();
    void updateThroughProxyInstalls();
    void refusedPackagesLeaveTheInstallation_data();
    void refusedPackagesLeaveTheInstallation();
    void dataSizeLimit_data();
    void dataSizeLimit();

private:
    HostRun runHost(const QStringList& arguments);
    QByteArray ztx(const QStringList& arguments, const QString& output);
    QByteArray packFolder(const QString& folder);
    void prepareInstallation();
    void checkInstalled();

    QString installPath() const { return m_root->path() + QStringLiteral("/install"); }

    QScopedPointer<QTemporaryDir> m_root;
    QScopedPointer<QTemporaryDir> m_packages;
    QByteArray m_package;
    HttpsTestServer m_server;
};

void TestUpdateFlows::initTestCase()
{
    QVERIFY2(QFileInfo(program(QStringLiteral("ztx"))).isExecutable(), "ztx is not built");
    QVERIFY2(QFileInfo(program(QStringLiteral("updater-host"))).isExecutable(), "updater-host is not built");
    m_packages.reset(new QTemporaryDir);
    QVERIFY(m_packages->isValid());

    // The package: a replaced file, a new file in new folders, a large one.
    const QString source = m_packages->path() + QStringLiteral("/source");
    QVERIFY(writeFile(source + QStringLiteral("/app.bin"), "new app"));
    QVERIFY(writeFile(source + QStringLiteral("/data/a.ini"), "new ini"));
    QVERIFY(writeFile(source + QStringLiteral("/plugins/deep/p.so"), incompressibleBytes(512 * 1024, 3)));
    m_package = packFolder(source);
    QVERIFY(!m_package.isEmpty());

    QVERIFY(m_server.start());
    m_server.setRoute(QStringLiteral("/app.ztx"), HttpsTestServer::file(m_package));
}

void TestUpdateFlows::cleanupTestCase()
{
    m_server.stop();
}

void TestUpdateFlows::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    QVERIFY(QDir().mkpath(installPath()));
}

void TestUpdateFlows::cleanup()
{
    m_root.reset();
}

HostRun TestUpdateFlows::runHost(const QStringList& arguments)
{
    QProcess host;
    host.setProgram(program(QStringLiteral("updater-host")));
    host.setArguments(QStringList{QStringLiteral("--dir"), installPath(), QStringLiteral("--org-name"),
                                  QStringLiteral("UpdaterTests"), QStringLiteral("--app-name"),
                                  QStringLiteral("tst_update_flows")}
                      + arguments);
    host.start();
    HostRun run;
    if (!host.waitForFinished(120000)) {
        host.kill();
        host.waitForFinished(5000);
        run.errors = QStringLiteral("updater-host did not finish");
        return run;
    }
    run.finished = host.exitStatus() == QProcess::NormalExit;
    run.exitCode = host.exitCode();
    run.result = host.readAllStandardOutput().trimmed();
    run.errors = QString::fromLocal8Bit(host.readAllStandardError());
    return run;
}

QByteArray TestUpdateFlows::ztx(const QStringList& arguments, const QString& output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program(QStringLiteral("ztx")),
                  arguments + QStringList{QStringLiteral("--key"), privateKey(), QStringLiteral("-o"), output});
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        qWarning("ztx failed: %s", process.readAll().constData());
        return QByteArray();
    }
    return readFile(output);
}

QByteArray TestUpdateFlows::packFolder(const QString& folder)
{
    return ztx({QStringLiteral("pack"), folder}, m_packages->path() + QStringLiteral("/packed.ztx"));
}

void TestUpdateFlows::prepareInstallation()
{
    const QString dir = installPath();
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "old app"));
    QVERIFY(writeFile(dir + QStringLiteral("/data/a.ini"), "old ini"));
    QVERIFY(writeFile(dir + QStringLiteral("/keep.txt"), "kept"));
    QVERIFY(writeFile(dir + QStringLiteral("/left.1234.old"), "from an earlier run"));
}

void TestUpdateFlows::checkInstalled()
{
    const QString dir = installPath();
    const QStringList expected = {QStringLiteral("UPDATES"),         QStringLiteral("app.bin"),
                                  QStringLiteral("data"),            QStringLiteral("data/a.ini"),
                                  QStringLiteral("keep.txt"),        QStringLiteral("plugins"),
                                  QStringLiteral("plugins/deep"),    QStringLiteral("plugins/deep/p.so")};
    QCOMPARE(TreeSnapshot::take(dir).names(), expected);
    QCOMPARE(readFile(dir + QStringLiteral("/app.bin")), QByteArray("new app"));
    QCOMPARE(readFile(dir + QStringLiteral("/data/a.ini")), QByteArray("new ini"));
    QCOMPARE(readFile(dir + QStringLiteral("/plugins/deep/p.so")), incompressibleBytes(512 * 1024, 3));
    QCOMPARE(readFile(dir + QStringLiteral("/keep.txt")), QByteArray("kept"));
    QCOMPARE(modeBits(dir + QStringLiteral("/plugins/deep/p.so")), 0755);
    QCOMPARE(updatesEntries(dir), QStringList());
}

void TestUpdateFlows::updateFromDataInstalls()
{
    prepareInstallation();
    const QString package = m_packages->path() + QStringLiteral("/app.ztx");
    QVERIFY(writeFile(package, m_package));
    const HostRun run = runHost({QStringLiteral("update-from-data"), package});
    QVERIFY2(run.finished, qPrintable(run.errors));
    QCOMPARE(run.result, kInstalled);
    QCOMPARE(run.exitCode, 0);
    checkInstalled();
}

void TestUpdateFlows::updateFromHttpsServerInstalls()
{
    prepareInstallation();
    const HostRun run = runHost({QStringLiteral("update"), QStringLiteral("--url"), m_server.url(QStringLiteral("/app.ztx"))});
    QVERIFY2(run.finished, qPrintable(run.errors));
    QCOMPARE(run.result, kInstalled);
    checkInstalled();
}

void TestUpdateFlows::updateThroughProxyInstalls()
{
    prepareInstallation();
    TinyProxyProcess proxy;
    QVERIFY2(proxy.start(), qPrintable(proxy.errorString()));
    const QByteArray proxyText = "127.0.0.1|" + QByteArray::number(proxy.port()) + "||";
    const HostRun run = runHost({QStringLiteral("update"), QStringLiteral("--url"), m_server.url(QStringLiteral("/app.ztx")),
                                 QStringLiteral("--proxy"), QString::fromLatin1(proxyText.toHex())});
    QVERIFY2(run.finished, qPrintable(run.errors));
    QCOMPARE(run.result, kInstalled);
    QVERIFY2(proxy.carriedConnectTo(m_server.port()), qPrintable(proxy.log()));
    checkInstalled();
}

void TestUpdateFlows::refusedPackagesLeaveTheInstallation_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("tampered") << QStringLiteral("tampered") << kVerificationError << QString();
    QTest::newRow("unsigned") << QStringLiteral("unsigned") << kVerificationError << QString();
    QTest::newRow("entry leaving the folder") << QStringLiteral("leaving") << kFileSystemError << QString();
    QTest::newRow("link leading out") << QStringLiteral("link") << kFileSystemError << QString();
    QTest::newRow("no entries") << QStringLiteral("empty") << kFileSystemError
                                << QStringLiteral("No permissions to unzip to");
}

void TestUpdateFlows::refusedPackagesLeaveTheInstallation()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, result);
    QFETCH(QString, logLine);

    QByteArray package;
    if (kind == QLatin1String("tampered")) {
        package = m_package;
        package[100] = char(package.at(100) ^ 0x01);
    } else if (kind == QLatin1String("unsigned")) {
        package = ZipBuilder().file(QStringLiteral("app.bin"), "unsigned").bytes();
    } else if (kind == QLatin1String("leaving")) {
        package = VerificationSupport::signedPackage(ZipBuilder()
                                                         .file(QStringLiteral("app.bin"), "new")
                                                         .file(QStringLiteral("../../../outside/evil"), "escaped")
                                                         .bytes());
    } else if (kind == QLatin1String("link")) {
        package = VerificationSupport::signedPackage(
            ZipBuilder()
                .file(QStringLiteral("app.bin"), "new")
                .symlink(QStringLiteral("l"), m_root->path() + QStringLiteral("/outside"))
                .file(QStringLiteral("l/evil"), "escaped")
                .bytes());
    } else {
        package = VerificationSupport::signedPackage(ZipBuilder().bytes());
    }
    QVERIFY(!package.isEmpty());

    prepareInstallation();
    QVERIFY(QDir().mkpath(m_root->path() + QStringLiteral("/outside")));
    const TreeSnapshot before = TreeSnapshot::take(installPath());
    const TreeSnapshot outsideBefore = TreeSnapshot::take(m_root->path(), {QStringLiteral("install")});

    const QString packagePath = m_packages->path() + QStringLiteral("/refused.ztx");
    QVERIFY(writeFile(packagePath, package));
    LogFile log(LogFile::pathFor(QStringLiteral("tst_update_flows")));
    const HostRun run = runHost({QStringLiteral("update-from-data"), packagePath});
    QVERIFY2(run.finished, qPrintable(run.errors));
    QCOMPARE(run.result, result);
    QCOMPARE(run.exitCode, result.left(2).toInt());
    if (!logLine.isEmpty())
        QVERIFY2(log.hasNewLine(logLine), qPrintable(log.newText()));
    else if (result == kVerificationError)
        QVERIFY(!log.hasNewLine(QStringLiteral("CDefaultLibrary::replaceFileByUpdateType")));

    // A package refused before installation does not even create "UPDATES".
    QCOMPARE(QFileInfo::exists(installPath() + QStringLiteral("/UPDATES")), result != kVerificationError);
    const TreeSnapshot after = TreeSnapshot::take(installPath(), kUpdates);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
    const TreeSnapshot outsideAfter =
        TreeSnapshot::take(m_root->path(), {QStringLiteral("install"), QStringLiteral("refused.ztx")});
    QVERIFY2(outsideBefore == outsideAfter, qPrintable(outsideBefore.differences(outsideAfter)));
    QCOMPARE(updatesEntries(installPath()), QStringList());
}

void TestUpdateFlows::dataSizeLimit_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QByteArray>("result");

    QTest::newRow("at the limit, verified") << int(updater::MaxPackageSize) << kVerificationError;
    QTest::newRow("one byte over") << int(updater::MaxPackageSize + 1) << kOversized;
}

void TestUpdateFlows::dataSizeLimit()
{
    QFETCH(int, size);
    QFETCH(QByteArray, result);

    prepareInstallation();
    const TreeSnapshot before = TreeSnapshot::take(installPath());
    const QString packagePath = m_packages->path() + QStringLiteral("/sized.bin");
    QVERIFY(writeFile(packagePath, incompressibleBytes(size, 11)));
    LogFile log(LogFile::pathFor(QStringLiteral("tst_update_flows")));
    const HostRun run = runHost({QStringLiteral("update-from-data"), packagePath});
    QVERIFY2(run.finished, qPrintable(run.errors));
    QCOMPARE(run.result, result);
    const QString oversized = QStringLiteral("CDefaultLibrary::UpdateFromData :: Data is oversized. File size = %1 bytes.")
                                  .arg(size);
    QCOMPARE(log.hasNewLine(oversized), size > updater::MaxPackageSize);
    // Refused before installing: not even "UPDATES" was created.
    const TreeSnapshot after = TreeSnapshot::take(installPath());
    QVERIFY2(before == after, qPrintable(before.differences(after)));
}

QTEST_GUILESS_MAIN(TestUpdateFlows)
#include "tst_update_flows.moc"
