// An installation killed at any moment is rolled back or kept whole by the
// next update call in the folder: never half a package, never a file lost,
// nothing left behind.
//
// The installations run in updater-host processes. The deterministic part
// uses the test build of the library, which ends the process at each named
// point of the installation (and after the k-th file of each phase); the
// random part kills installations of the library that ships at random
// moments.

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "InstallationTestTools.h"
#include "module/ResultTexts.h"
#include "support/HostProcess.h"
#include "support/LogFile.h"

using namespace FileTools;
using namespace InstallationTestTools;

namespace {

const QString kAppName = QStringLiteral("tst_installation_crash");
const QByteArray kInstalled = ResultTexts::fileUpdated().serialize();
const QByteArray kVerificationError = ResultTexts::verificationError().serialize();

// The point from which on an interrupted installation is kept: its journal
// is gone.
const QString kCommitPoint = QStringLiteral("install.committed");

// Base installation: files in three folders.
Tree baseTree()
{
    Tree tree;
    for (int i = 0; i < 12; ++i)
        tree.insert(QStringLiteral("app/part%1/file%2.bin").arg(i % 3).arg(i), "base " + QByteArray::number(i));
    tree.insert(QStringLiteral("keep.txt"), "not in any package");
    return installed(Tree(), tree);
}

// Replaces half of the base files, adds files in new folders, and ships a
// file whose name ends in ".old".
Tree packageA()
{
    Tree files;
    for (int i = 0; i < 12; i += 2)
        files.insert(QStringLiteral("app/part%1/file%2.bin").arg(i % 3).arg(i), "A " + QByteArray::number(i));
    for (int i = 0; i < 6; ++i)
        files.insert(QStringLiteral("plugins/new%1/deep/p%2.so").arg(i % 2).arg(i), "A new " + QByteArray::number(i));
    files.insert(QStringLiteral("docs/notes.old"), "shipped by the package");
    return files;
}

// The installation that follows: overlaps package A in one file.
Tree packageB()
{
    Tree files;
    files.insert(QStringLiteral("app/part0/file0.bin"), "B 0");
    files.insert(QStringLiteral("app/part1/file1.bin"), "B 1");
    files.insert(QStringLiteral("b/only.txt"), "B only");
    return files;
}

} // namespace

class TestInstallationCrash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void everyCrashPointIsAllOrNothing();
    void interruptedRecoveryIsFinishedLater();
    void interruptedCleanUpIsFinishedByAFailedCall();
    void aKilledInstallerLosesNoWarning();
    void randomKills();

private:
    QString installPath() const { return m_root->path() + QStringLiteral("/install"); }
    QString packagePath(const QString& name) const { return m_root->path() + QLatin1Char('/') + name; }
    bool writePackage(const QString& name, const Tree& files);
    // An update call whose package is refused: all it does is recover.
    HostProcess::Result recoverOnly();
    HostProcess::Result install(const QString& package, const QString& fault = QString());
    QVector<TracePoint> passedPoints();
    // After a recovery: the folder is exactly one of the two trees, and
    // "UPDATES" holds nothing.
    QString checkOneOf(const Tree& before, const Tree& after, bool* tookAfter);

    QScopedPointer<QTemporaryDir> m_root;
};

void TestInstallationCrash::initTestCase()
{
    QVERIFY2(QFileInfo(HostProcess::hostProgram()).isExecutable(), "updater-host is not built");
    QVERIFY2(QFileInfo::exists(TestPaths::faultLibraryPath()), "the test build of the library is not built");
}

void TestInstallationCrash::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    QVERIFY(QDir().mkpath(installPath()));
    QVERIFY(writePackage(QStringLiteral("a.ztx"), packageA()));
    QVERIFY(writePackage(QStringLiteral("b.ztx"), packageB()));
    QVERIFY(writeFile(packagePath(QStringLiteral("unsigned.ztx")), ZipBuilder().file(QStringLiteral("x"), "x").bytes()));
}

void TestInstallationCrash::cleanup()
{
    m_root.reset();
}

bool TestInstallationCrash::writePackage(const QString& name, const Tree& files)
{
    const QByteArray package = signedPackage(files);
    return !package.isEmpty() && writeFile(packagePath(name), package);
}

HostProcess::Result TestInstallationCrash::recoverOnly()
{
    HostProcess host(installPath(), kAppName);
    return host.run({QStringLiteral("update-from-data"), packagePath(QStringLiteral("unsigned.ztx"))});
}

HostProcess::Result TestInstallationCrash::install(const QString& package, const QString& fault)
{
    HostProcess host(installPath(), kAppName);
    if (!fault.isEmpty()) {
        host.useFaultLibrary();
        host.setEnvironment(QStringLiteral("UPDATER_FAULT"), fault);
    }
    return host.run({QStringLiteral("update-from-data"), packagePath(package)});
}

// Every point an installation of package A passes, with how often: taken
// from one complete run of the test build.
QVector<TracePoint> TestInstallationCrash::passedPoints()
{
    QVector<TracePoint> points;
    const QString trace = packagePath(QStringLiteral("trace.txt"));
    if (!writeTree(installPath(), baseTree()))
        return points;
    HostProcess host(installPath(), kAppName);
    host.useFaultLibrary();
    host.setEnvironment(QStringLiteral("UPDATER_FAULT_TRACE"), trace);
    const HostProcess::Result run = host.run({QStringLiteral("update-from-data"), packagePath(QStringLiteral("a.ztx"))});
    if (run.result != kInstalled)
        return points;
    points = InstallationTestTools::tracePoints(readFile(trace), kCommitPoint, true);
    QDir(installPath()).removeRecursively();
    QDir().mkpath(installPath());
    return points;
}

QString TestInstallationCrash::checkOneOf(const Tree& before, const Tree& after, bool* tookAfter)
{
    const QStringList left = updatesEntries(installPath());
    if (!left.isEmpty())
        return QStringLiteral("UPDATES still holds ") + left.join(QLatin1Char(' '));
    const Tree now = readTree(installPath());
    // The files moved aside stay until a later installation's clean-up.
    Tree withoutOld;
    for (auto entry = now.constBegin(); entry != now.constEnd(); ++entry) {
        if (!entry.key().contains(QRegularExpression(QStringLiteral("\\.\\d+\\.old$"))))
            withoutOld.insert(entry.key(), entry.value());
    }
    *tookAfter = withoutOld == after;
    if (withoutOld == before || *tookAfter)
        return QString();
    return QStringLiteral("neither before (%1) nor after (%2)")
        .arg(firstDifference(withoutOld, before), firstDifference(withoutOld, after));
}

void TestInstallationCrash::everyCrashPointIsAllOrNothing()
{
    const QVector<TracePoint> points = passedPoints();
    QVERIFY2(points.size() >= 10, "the trace run of the test build passed too few points");
    const Tree base = baseTree();
    const Tree withA = installed(base, packageA());
    int rolledBack = 0;
    int kept = 0;
    for (const QString& action : {QStringLiteral("kill"), QStringLiteral("term")}) {
        for (const TracePoint& point : points) {
            // SIGTERM (logout, shutdown) at the phase boundaries only.
            if (action == QLatin1String("term") && point.hit != 1)
                continue;
            const QString where = QStringLiteral("%1:%2:%3").arg(point.name).arg(point.hit).arg(action);
            QVERIFY(QDir(installPath()).removeRecursively() && QDir().mkpath(installPath()));
            QVERIFY(writeTree(installPath(), base));

            const HostProcess::Result killed = install(QStringLiteral("a.ztx"), where);
            QVERIFY2(killed.killed, qPrintable(where + QStringLiteral(": not ended by the fault, but ")
                                               + QString::fromLatin1(killed.result) + killed.errors));

            // The next call recovers, whatever becomes of it.
            const HostProcess::Result recovery = recoverOnly();
            QCOMPARE(recovery.result, kVerificationError);
            bool committed = false;
            const QString problem = checkOneOf(base, withA, &committed);
            QVERIFY2(problem.isEmpty(), qPrintable(where + QStringLiteral(": ") + problem));
            QCOMPARE(committed, point.committed);
            committed ? ++kept : ++rolledBack;

            // A later installation runs as usual and clears away every old
            // file but those it ships (so also the one package A shipped).
            const HostProcess::Result next = install(QStringLiteral("b.ztx"));
            QCOMPARE(next.result, kInstalled);
            Tree expected = installed(committed ? withA : base, packageB());
            expected.remove(QStringLiteral("docs/notes.old"));
            const Tree now = readTree(installPath());
            QVERIFY2(now == expected, qPrintable(where + QStringLiteral(": ") + firstDifference(now, expected)));
            QCOMPARE(updatesEntries(installPath()), QStringList());
        }
    }
    QVERIFY(rolledBack > 0 && kept > 0);
}

void TestInstallationCrash::interruptedRecoveryIsFinishedLater()
{
    const Tree base = baseTree();
    for (const QString& recoveryFault :
         {QStringLiteral("recovery.restore:1"), QStringLiteral("recovery.restore:3"), QStringLiteral("recovery.remove:2"),
          QStringLiteral("recovery.unpack-folder-removed:1")}) {
        QVERIFY(QDir(installPath()).removeRecursively() && QDir().mkpath(installPath()));
        QVERIFY(writeTree(installPath(), base));
        QVERIFY(install(QStringLiteral("a.ztx"), QStringLiteral("install.move-in:8")).killed);

        HostProcess interrupted(installPath(), kAppName);
        interrupted.useFaultLibrary();
        interrupted.setEnvironment(QStringLiteral("UPDATER_FAULT"), recoveryFault);
        const HostProcess::Result run =
            interrupted.run({QStringLiteral("update-from-data"), packagePath(QStringLiteral("unsigned.ztx"))});
        QVERIFY2(run.killed, qPrintable(recoveryFault));
        QVERIFY2(!updatesEntries(installPath()).isEmpty(), qPrintable(recoveryFault)); // left to finish

        QCOMPARE(recoverOnly().result, kVerificationError);
        bool committed = true;
        const QString problem = checkOneOf(base, base, &committed);
        QVERIFY2(problem.isEmpty(), qPrintable(recoveryFault + QStringLiteral(": ") + problem));
        const Tree now = readTree(installPath());
        QVERIFY2(now == base, qPrintable(recoveryFault + QStringLiteral(": ") + firstDifference(now, base)));
    }
}

// Killed after its commit point, before its old files were deleted: the next
// call deletes them even when its own package is refused, and keeps what the
// installation shipped.
void TestInstallationCrash::interruptedCleanUpIsFinishedByAFailedCall()
{
    const Tree base = baseTree();
    const Tree withA = installed(base, packageA());
    QVERIFY(QDir(installPath()).removeRecursively() && QDir().mkpath(installPath()));
    QVERIFY(writeTree(installPath(), base));
    QVERIFY(install(QStringLiteral("a.ztx"), QStringLiteral("install.unpack-folder-removed:1")).killed);
    QVERIFY(readTree(installPath()) != withA); // the old files are still there

    QCOMPARE(recoverOnly().result, kVerificationError);
    const Tree now = readTree(installPath());
    QVERIFY2(now == withA, qPrintable(firstDifference(now, withA)));
    QCOMPARE(updatesEntries(installPath()), QStringList());
}

// Log lines are written in batches, but a WARN (with every line before it)
// reaches the file at once: a process killed right after one keeps it.
void TestInstallationCrash::aKilledInstallerLosesNoWarning()
{
    QVERIFY(writeFile(installPath() + QStringLiteral("/UPDATES/1796700000000.journal"),
                      "{\"format\":1,\"files\":[{\"path\":\"/etc/passwd\",\"existed\":false}]}"));
    LogFile log(LogFile::pathFor(kAppName));
    QVERIFY(install(QStringLiteral("a.ztx"), QStringLiteral("install.locked:1")).killed);
    const QStringList lines = log.newLines();
    QVERIFY2(!lines.isEmpty() && lines.last().contains(QStringLiteral("WARN")) && lines.last().contains(
                 QStringLiteral("is not played back")),
             qPrintable(log.newText()));
    QVERIFY(lines.first().contains(QStringLiteral("Started update ZTX package")));
}

// Real installations of 1,100 files (1,000 of them over installed files),
// killed at random moments; each followed by the installation of another
// package, which first recovers the folder.
void TestInstallationCrash::randomKills()
{
    const int files = 1000;
    const int tries = 30;
    Tree state;
    for (int i = 0; i < files; ++i)
        state.insert(QStringLiteral("d%1/f%2.bin").arg(i % 10).arg(i), "base " + QByteArray::number(i));
    state = installed(Tree(), state);
    QVERIFY(writeTree(installPath(), state));

    auto killedPackage = [files](int round) {
        Tree package;
        for (int i = 0; i < files; ++i)
            package.insert(QStringLiteral("d%1/f%2.bin").arg(i % 10).arg(i), "K" + QByteArray::number(round));
        for (int i = 0; i < 100; ++i)
            package.insert(QStringLiteral("k%1/sub/n%2.bin").arg(round).arg(i), "K" + QByteArray::number(round));
        return package;
    };
    // Overlaps the killed package in its first 200 files.
    auto nextPackage = [](int round) {
        Tree package;
        for (int i = 0; i < 200; ++i)
            package.insert(QStringLiteral("d%1/f%2.bin").arg(i % 10).arg(i), "L" + QByteArray::number(round));
        package.insert(QStringLiteral("l%1/only.bin").arg(round), "L" + QByteArray::number(round));
        return package;
    };

    // How long one installation takes here, and how long its journal is on
    // disk (the transaction), to spread the kills over both.
    QVERIFY(writePackage(QStringLiteral("k.ztx"), killedPackage(0)));
    const QDir updates(installPath() + QStringLiteral("/UPDATES"));
    auto journalPresent = [&updates] { return !updates.entryList({QStringLiteral("*.journal")}, QDir::Files).isEmpty(); };
    qint64 duration = 0;
    qint64 window = 0;
    {
        HostProcess host(installPath(), kAppName);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(host.start({QStringLiteral("update-from-data"), packagePath(QStringLiteral("k.ztx"))}));
        qint64 journalSeen = -1;
        while (host.isRunning()) {
            const bool present = journalPresent();
            if (present && journalSeen < 0)
                journalSeen = clock.elapsed();
            if (!present && journalSeen >= 0 && window == 0)
                window = clock.elapsed() - journalSeen;
            QTest::qSleep(1);
        }
        duration = clock.elapsed();
        QCOMPARE(host.finish().result, kInstalled);
        QVERIFY2(journalSeen >= 0, "the journal was never seen");
    }
    window = qMax<qint64>(window, 5);
    state = installed(state, killedPackage(0));

    QRandomGenerator random(20261208);
    int insideTransaction = 0;
    int committedKills = 0;
    for (int round = 1; round <= tries; ++round) {
        const Tree killed = killedPackage(round);
        const Tree next = nextPackage(round);
        QVERIFY(writePackage(QStringLiteral("k.ztx"), killed));
        QVERIFY(writePackage(QStringLiteral("l.ztx"), next));

        // Every other kill at any moment of the call; the others aimed at the
        // transaction, which is a small part of it: some moment after the
        // journal appeared, within the time it stayed in the first run.
        HostProcess host(installPath(), kAppName);
        QElapsedTimer running;
        running.start();
        QVERIFY(host.start({QStringLiteral("update-from-data"), packagePath(QStringLiteral("k.ztx"))}));
        if (round % 2) {
            QTest::qSleep(int(duration / 10 + random.bounded(int(duration))));
        } else {
            while (!journalPresent() && running.elapsed() < 3 * duration)
                QTest::qSleep(1);
            QTest::qSleep(random.bounded(int(window)));
        }
        host.kill();
        const HostProcess::Result run = host.finish();
        const QStringList journals =
            QDir(installPath() + QStringLiteral("/UPDATES")).entryList({QStringLiteral("*.journal")}, QDir::Files);
        if (run.killed && !journals.isEmpty())
            ++insideTransaction;

        QCOMPARE(install(QStringLiteral("l.ztx")).result, kInstalled);
        const Tree rolledBack = installed(state, next);
        const Tree kept = installed(installed(state, killed), next);
        const Tree now = readTree(installPath());
        QVERIFY2(now == rolledBack || now == kept,
                 qPrintable(QStringLiteral("round %1: neither rolled back (%2) nor kept (%3)")
                                .arg(round)
                                .arg(firstDifference(now, rolledBack), firstDifference(now, kept))));
        QCOMPARE(updatesEntries(installPath()), QStringList());
        if (now == kept && run.killed)
            ++committedKills;
        state = now;
    }
    qInfo("%d of %d kills landed inside the transaction (%lld ms of %lld ms), %d after its commit point",
          insideTransaction, tries, window, duration, committedKills);
    QVERIFY2(insideTransaction >= tries / 3, "too few kills landed inside the transaction to mean anything");
}

QTEST_GUILESS_MAIN(TestInstallationCrash)
#include "tst_installation_crash.moc"
