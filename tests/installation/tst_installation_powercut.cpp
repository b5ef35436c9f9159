// A power cut at any named point of an installation, or of the roll-back of
// an interrupted one, leaves a folder that the next update call brings to a
// whole state: the next call installs its own package, and every other file
// is wholly old or wholly new, as the commit point decides.
//
// The installations run in updater-host on a real ext4 file system in an
// image file, mounted with a ten-minute commit interval, so that only what
// the module flushes reaches the image. The test build of the library stops
// the installer at the point (SIGSTOP); the image, copied as it stands, is
// what a power cut at that moment leaves on the disk. The copy is mounted
// (its journal replays, as at the next boot) and the library that ships
// installs another package into it.

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include "InstallationTestTools.h"
#include "module/ResultTexts.h"
#include "support/HostProcess.h"
#include "support/LogFile.h"
#include "support/LoopFilesystem.h"

using namespace FileTools;
using namespace InstallationTestTools;

namespace {

const QString kAppName = QStringLiteral("tst_installation_powercut");
const QByteArray kInstalled = ResultTexts::fileUpdated().serialize();
const QString kCommitPoint = QStringLiteral("install.committed");
const int kImageMiB = 64;

Tree baseFiles()
{
    Tree files;
    for (int i = 0; i < 20; ++i)
        files.insert(QStringLiteral("app/part%1/file%2.bin").arg(i % 3).arg(i), "base " + QByteArray::number(i));
    files.insert(QStringLiteral("keep.txt"), "in no package");
    return files;
}

// Replaces half of the base files, adds files in new folders, ships a file
// named "*.old".
Tree packageA()
{
    Tree files;
    for (int i = 0; i < 20; i += 2)
        files.insert(QStringLiteral("app/part%1/file%2.bin").arg(i % 3).arg(i), "A " + QByteArray(300, 'a'));
    for (int i = 0; i < 8; ++i)
        files.insert(QStringLiteral("plugins/new%1/p%2.so").arg(i % 2).arg(i), "A new " + QByteArray::number(i));
    files.insert(QStringLiteral("docs/notes.old"), "shipped by A");
    return files;
}

// The installation after the power cut: overlaps A in two files.
Tree packageB()
{
    Tree files;
    files.insert(QStringLiteral("app/part0/file0.bin"), "B 0");
    files.insert(QStringLiteral("plugins/new1/p1.so"), "B 1");
    files.insert(QStringLiteral("b/only.txt"), "B only");
    return files;
}

} // namespace

class TestInstallationPowerCut : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void powerCutDuringInstallation_data();
    void powerCutDuringInstallation();
    void powerCutDuringRecovery_data();
    void powerCutDuringRecovery();
    void cleanupTestCase();

private:
    QString path(const QString& name) const { return m_root.path() + QLatin1Char('/') + name; }
    // An image holding "install/" with the tree in it, written out whole.
    bool makeTemplate(const QString& image, const Tree& tree);
    QVector<TracePoint> passedPoints(const QString& image);
    HostProcess::Result run(const QString& installDir, const QString& package, const QString& fault = QString());
    // Stops an installer of the test build at the fault and copies the image
    // as it stands then; the installer is killed afterwards.
    QString cutPowerAt(const QString& installDir, const QString& image, const QString& package,
                       const QString& fault, const QString& snapshot);
    // Mounts what the power cut left, installs package B there with the
    // library that ships and checks the folder against both outcomes.
    // With plantLeftovers, what a file system that keeps less than ext4 does
    // could also leave is put there first: an empty lock file and a journal
    // cut off half-way while it was being written.
    void checkNextInstallation(const QString& snapshot, const Tree& before, const Tree& after, bool committed,
                               bool plantLeftovers = false);

    QTemporaryDir m_root;
    Tree m_existing;
    QVector<TracePoint> m_freshPoints;
    QVector<TracePoint> m_existingPoints;
    qint64 m_undisturbedMs = 0;
    qint64 m_longestNextMs = 0;
};

void TestInstallationPowerCut::initTestCase()
{
    QVERIFY(m_root.isValid());
    QVERIFY2(QFileInfo::exists(TestPaths::faultLibraryPath()), "the test build of the library is not built");
    m_existing = installed(Tree(), baseFiles());
    QVERIFY(writeFile(path(QStringLiteral("a.ztx")), signedPackage(packageA())));
    QVERIFY(writeFile(path(QStringLiteral("b.ztx")), signedPackage(packageB())));
    QVERIFY(writeFile(path(QStringLiteral("unsigned.ztx")), ZipBuilder().file(QStringLiteral("x"), "x").bytes()));
    QVERIFY(makeTemplate(path(QStringLiteral("fresh.img")), Tree()));
    QVERIFY(makeTemplate(path(QStringLiteral("existing.img")), m_existing));
    m_freshPoints = passedPoints(path(QStringLiteral("fresh.img")));
    m_existingPoints = passedPoints(path(QStringLiteral("existing.img")));
    QVERIFY2(m_freshPoints.size() >= 10 && m_existingPoints.size() > m_freshPoints.size(),
             "the trace runs of the test build passed too few points");

    // How long package B takes undisturbed, for the report.
    QString error;
    QVERIFY2(LoopFilesystem::copyImage(path(QStringLiteral("existing.img")), path(QStringLiteral("plain.img")), &error),
             qPrintable(error));
    LoopFilesystem plain(path(QStringLiteral("plain.img")));
    QVERIFY2(plain.isMounted(), qPrintable(plain.error()));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run(plain.path() + QStringLiteral("/install"), path(QStringLiteral("b.ztx"))).result, kInstalled);
    m_undisturbedMs = clock.elapsed();
}

bool TestInstallationPowerCut::makeTemplate(const QString& image, const Tree& tree)
{
    QString error;
    if (!LoopFilesystem::makeImage(image, kImageMiB, &error)) {
        qWarning("%s", qPrintable(error));
        return false;
    }
    LoopFilesystem filesystem(image);
    if (!filesystem.isMounted()) {
        qWarning("%s", qPrintable(filesystem.error()));
        return false;
    }
    return QDir().mkpath(filesystem.path() + QStringLiteral("/install"))
           && writeTree(filesystem.path() + QStringLiteral("/install"), tree) && filesystem.unmount();
}

// Every point an installation of package A passes, with its first and last
// time, from one complete run of the test build.
QVector<TracePoint> TestInstallationPowerCut::passedPoints(const QString& image)
{
    QVector<TracePoint> points;
    const QString copy = path(QStringLiteral("trace.img"));
    const QString trace = path(QStringLiteral("trace.txt"));
    QFile::remove(trace);
    QString error;
    if (!LoopFilesystem::copyImage(image, copy, &error))
        return points;
    {
        LoopFilesystem filesystem(copy);
        HostProcess host(filesystem.path() + QStringLiteral("/install"), kAppName);
        host.useFaultLibrary();
        host.setEnvironment(QStringLiteral("UPDATER_FAULT_TRACE"), trace);
        if (host.run({QStringLiteral("update-from-data"), path(QStringLiteral("a.ztx"))}).result != kInstalled)
            return points;
    }
    QFile::remove(copy);
    return InstallationTestTools::tracePoints(readFile(trace), kCommitPoint, false);
}

HostProcess::Result TestInstallationPowerCut::run(const QString& installDir, const QString& package,
                                                  const QString& fault)
{
    HostProcess host(installDir, kAppName);
    if (!fault.isEmpty()) {
        host.useFaultLibrary();
        host.setEnvironment(QStringLiteral("UPDATER_FAULT"), fault);
    }
    return host.run({QStringLiteral("update-from-data"), package});
}

QString TestInstallationPowerCut::cutPowerAt(const QString& installDir, const QString& image, const QString& package,
                                             const QString& fault, const QString& snapshot)
{
    HostProcess host(installDir, kAppName);
    host.useFaultLibrary();
    host.setEnvironment(QStringLiteral("UPDATER_FAULT"), fault + QStringLiteral(":stop"));
    if (!host.start({QStringLiteral("update-from-data"), package}))
        return QStringLiteral("updater-host did not start");
    if (!host.waitUntilStopped()) {
        const HostProcess::Result ended = host.finish();
        return QStringLiteral("never stopped at %1, but ended with %2 %3")
            .arg(fault, QString::fromLatin1(ended.result), ended.errors);
    }
    QString error;
    const bool copied = LoopFilesystem::copyImage(image, snapshot, &error);
    host.kill();
    host.finish();
    return copied ? QString() : error;
}

void TestInstallationPowerCut::checkNextInstallation(const QString& snapshot, const Tree& before, const Tree& after,
                                                     bool committed, bool plantLeftovers)
{
    LoopFilesystem filesystem(snapshot);
    QVERIFY2(filesystem.isMounted(), qPrintable(filesystem.error()));
    const QString installDir = filesystem.path() + QStringLiteral("/install");
    if (plantLeftovers) {
        QVERIFY(writeFile(installDir + QStringLiteral("/UPDATES/install.lock"), QByteArray()));
        QVERIFY(writeFile(installDir + QStringLiteral("/UPDATES/1796700000000.journal.new"),
                          "{\"format\":1,\"runStamp\":\"1796700000000\",\"files\":[{\"path\":\"app/par"));
    }
    LogFile log(LogFile::pathFor(kAppName));
    QElapsedTimer clock;
    clock.start();
    const HostProcess::Result next = run(installDir, path(QStringLiteral("b.ztx")));
    const qint64 elapsed = clock.elapsed();
    m_longestNextMs = qMax(m_longestNextMs, elapsed);
    QVERIFY2(next.result == kInstalled, qPrintable(QString::fromLatin1(next.result) + log.newText()));
    // Nothing made it wait: a lock left behind would have held it for two
    // minutes (this bounds a wait, it measures no speed).
    QVERIFY2(elapsed < 30000,
             qPrintable(QStringLiteral("the next installation took %1 ms (%2 ms undisturbed)")
                            .arg(elapsed)
                            .arg(m_undisturbedMs)));
    QCOMPARE(updatesEntries(installDir), QStringList());

    Tree rolledBack = installed(before, packageB());
    Tree kept = installed(after, packageB());
    // The clean-up of B deletes the "*.old" that A shipped.
    rolledBack.remove(QStringLiteral("docs/notes.old"));
    kept.remove(QStringLiteral("docs/notes.old"));
    const Tree now = readTree(installDir);
    const Tree& expected = committed ? kept : rolledBack;
    QVERIFY2(now == expected, qPrintable(QStringLiteral("%1 expected, but: %2 (as the other outcome: %3)")
                                             .arg(committed ? QStringLiteral("new") : QStringLiteral("old"),
                                                  firstDifference(now, expected),
                                                  firstDifference(now, committed ? rolledBack : kept))));
}

void TestInstallationPowerCut::powerCutDuringInstallation_data()
{
    QTest::addColumn<QString>("templateImage");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("committed");
    QTest::addColumn<bool>("plantLeftovers");
    for (const QString& mode : {QStringLiteral("fresh"), QStringLiteral("existing")}) {
        const QVector<TracePoint>& points = mode == QLatin1String("fresh") ? m_freshPoints : m_existingPoints;
        for (const TracePoint& point : points) {
            const QString fault = QStringLiteral("%1:%2").arg(point.name).arg(point.hit);
            QTest::newRow(qPrintable(mode + QLatin1Char(' ') + fault))
                << path(mode + QStringLiteral(".img")) << fault << point.committed << false;
        }
    }
    for (const QString& fault : {QStringLiteral("journal.written:1"), QStringLiteral("install.move-in:10")})
        QTest::newRow(qPrintable(QStringLiteral("existing ") + fault + QStringLiteral(", empty lock, half a journal")))
            << path(QStringLiteral("existing.img")) << fault << false << true;
}

void TestInstallationPowerCut::powerCutDuringInstallation()
{
    QFETCH(QString, templateImage);
    QFETCH(QString, fault);
    QFETCH(bool, committed);
    QFETCH(bool, plantLeftovers);
    const QString image = path(QStringLiteral("cut.img"));
    const QString snapshot = path(QStringLiteral("snapshot.img"));
    QString error;
    QVERIFY2(LoopFilesystem::copyImage(templateImage, image, &error), qPrintable(error));
    {
        LoopFilesystem filesystem(image, QStringLiteral("commit=600"));
        QVERIFY2(filesystem.isMounted(), qPrintable(filesystem.error()));
        const QString problem = cutPowerAt(filesystem.path() + QStringLiteral("/install"), image,
                                           path(QStringLiteral("a.ztx")), fault, snapshot);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    const Tree before = templateImage.endsWith(QLatin1String("existing.img")) ? m_existing : Tree();
    checkNextInstallation(snapshot, before, installed(before, packageA()), committed, plantLeftovers);
    QFile::remove(image);
    QFile::remove(snapshot);
}

// An installation of A killed part-way (or after its commit point), then a
// call whose package is refused, which rolls it back (or finishes its
// clean-up) and is itself cut off at a point of that work.
void TestInstallationPowerCut::powerCutDuringRecovery_data()
{
    QTest::addColumn<QString>("kill");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("committed");
    QTest::newRow("lock of the recovery") << "install.move-in:10" << "lock.created:1" << false;
    QTest::newRow("first file put back") << "install.move-in:10" << "recovery.restore:1" << false;
    QTest::newRow("fifth file put back") << "install.move-in:10" << "recovery.restore:5" << false;
    QTest::newRow("first new file removed") << "install.move-in:16" << "recovery.remove:1" << false;
    QTest::newRow("unpack folder removed") << "install.move-in:10" << "recovery.unpack-folder-removed:1" << false;
    QTest::newRow("clean-up of a committed one") << "install.committed:1" << "recovery.cleaned:1" << true;
}

void TestInstallationPowerCut::powerCutDuringRecovery()
{
    QFETCH(QString, kill);
    QFETCH(QString, fault);
    QFETCH(bool, committed);
    const QString image = path(QStringLiteral("cut.img"));
    const QString snapshot = path(QStringLiteral("snapshot.img"));
    QString error;
    QVERIFY2(LoopFilesystem::copyImage(path(QStringLiteral("existing.img")), image, &error), qPrintable(error));
    {
        LoopFilesystem filesystem(image, QStringLiteral("commit=600"));
        QVERIFY2(filesystem.isMounted(), qPrintable(filesystem.error()));
        const QString installDir = filesystem.path() + QStringLiteral("/install");
        QVERIFY(run(installDir, path(QStringLiteral("a.ztx")), kill).killed);
        const QString problem = cutPowerAt(installDir, image, path(QStringLiteral("unsigned.ztx")), fault, snapshot);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
    }
    checkNextInstallation(snapshot, m_existing, installed(m_existing, packageA()), committed);
    QFile::remove(image);
    QFile::remove(snapshot);
}

void TestInstallationPowerCut::cleanupTestCase()
{
    qInfo("the installation after a power cut took at most %lld ms; undisturbed, %lld ms", m_longestNextMs,
          m_undisturbedMs);
}

QTEST_GUILESS_MAIN(TestInstallationPowerCut)
#include "tst_installation_powercut.moc"
