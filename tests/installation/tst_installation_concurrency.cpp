// One installation at a time per installation folder: two installers started
// together both succeed, one after the other; an installer waits for a live
// one only so long, and takes over at once from one that died.

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>

#include "InstallationTestTools.h"
#include "module/ResultTexts.h"
#include "support/HostProcess.h"

using namespace FileTools;
using namespace InstallationTestTools;

namespace {

const QString kAppName = QStringLiteral("tst_installation_concurrency");
const QByteArray kInstalled = ResultTexts::fileUpdated().serialize();
const QByteArray kFileSystemError = ResultTexts::fileSystemError().serialize();

Tree packageFiles(const QString& tag, int first, int count)
{
    Tree files;
    for (int i = first; i < first + count; ++i)
        files.insert(QStringLiteral("d%1/f%2.bin").arg(i % 8).arg(i), tag.toLatin1() + ' ' + QByteArray::number(i));
    files.insert(tag + QStringLiteral("/only.bin"), tag.toLatin1());
    return files;
}

} // namespace

class TestInstallationConcurrency : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void twoInstallersAtOnce();
    void waitingEndsAfterTheLimit();
    void lockOfADeadInstallerIsTakenOver_data();
    void lockOfADeadInstallerIsTakenOver();

private:
    QString installPath() const { return m_root->path() + QStringLiteral("/install"); }
    QString packagePath(const QString& name) const { return m_root->path() + QLatin1Char('/') + name; }

    QScopedPointer<QTemporaryDir> m_root;
};

void TestInstallationConcurrency::initTestCase()
{
    QVERIFY2(QFileInfo(HostProcess::hostProgram()).isExecutable(), "updater-host is not built");
}

void TestInstallationConcurrency::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    QVERIFY(QDir().mkpath(installPath()));
}

void TestInstallationConcurrency::cleanup()
{
    m_root.reset();
}

// Packages of 400 files that share 200 paths, installed by two processes
// started together over an installation of those files: both succeed, and
// the folder holds one package over the other, every shared file from the
// same one.
void TestInstallationConcurrency::twoInstallersAtOnce()
{
    Tree state = installed(Tree(), packageFiles(QStringLiteral("base"), 0, 600));
    QVERIFY(writeTree(installPath(), state));
    for (int round = 0; round < 10; ++round) {
        const QString tagX = QStringLiteral("x%1").arg(round);
        const QString tagY = QStringLiteral("y%1").arg(round);
        const Tree x = packageFiles(tagX, 0, 400);
        const Tree y = packageFiles(tagY, 200, 400);
        QVERIFY(writeFile(packagePath(QStringLiteral("x.ztx")), signedPackage(x)));
        QVERIFY(writeFile(packagePath(QStringLiteral("y.ztx")), signedPackage(y)));

        HostProcess first(installPath(), kAppName);
        HostProcess second(installPath(), kAppName);
        QVERIFY(first.start({QStringLiteral("update-from-data"), packagePath(QStringLiteral("x.ztx"))}));
        QVERIFY(second.start({QStringLiteral("update-from-data"), packagePath(QStringLiteral("y.ztx"))}));
        const HostProcess::Result firstRun = first.finish();
        const HostProcess::Result secondRun = second.finish();
        QCOMPARE(firstRun.result, kInstalled);
        QCOMPARE(secondRun.result, kInstalled);

        const Tree xThenY = installed(installed(state, x), y);
        const Tree yThenX = installed(installed(state, y), x);
        const Tree now = readTree(installPath());
        QVERIFY2(now == xThenY || now == yThenX,
                 qPrintable(QStringLiteral("round %1: neither x then y (%2) nor y then x (%3)")
                                .arg(round)
                                .arg(firstDifference(now, xThenY), firstDifference(now, yThenX))));
        QCOMPARE(updatesEntries(installPath()), QStringList());
        state = now;
    }
}

// A live installation holds the folder (here: this process holds its lock).
// The test build waits 1.5 s instead of two minutes, then gives up without
// changing anything.
void TestInstallationConcurrency::waitingEndsAfterTheLimit()
{
    const Tree before = installed(Tree(), packageFiles(QStringLiteral("base"), 0, 20));
    QVERIFY(writeTree(installPath(), before));
    QVERIFY(writeFile(packagePath(QStringLiteral("x.ztx")), signedPackage(packageFiles(QStringLiteral("x"), 0, 20))));
    QVERIFY(QDir().mkpath(installPath() + QStringLiteral("/UPDATES")));
    QLockFile held(installPath() + QStringLiteral("/UPDATES/install.lock"));
    QVERIFY(held.tryLock(0));

    HostProcess host(installPath(), kAppName);
    host.useFaultLibrary();
    host.setEnvironment(QStringLiteral("UPDATER_LIMIT_LOCK_WAIT_MS"), QStringLiteral("1500"));
    QElapsedTimer clock;
    clock.start();
    const HostProcess::Result run = host.run({QStringLiteral("update-from-data"), packagePath(QStringLiteral("x.ztx"))});
    QCOMPARE(run.result, kFileSystemError);
    QVERIFY(clock.elapsed() >= 1500);
    const Tree after = readTree(installPath());
    QVERIFY2(after == before, qPrintable(firstDifference(after, before)));
    QCOMPARE(updatesEntries(installPath()), QStringList{QStringLiteral("install.lock")});

    // Once the folder is free, the same installation goes through.
    held.unlock();
    QCOMPARE(host.run({QStringLiteral("update-from-data"), packagePath(QStringLiteral("x.ztx"))}).result, kInstalled);
    QCOMPARE(updatesEntries(installPath()), QStringList());
}

// An installer killed while it held the lock, or right after it made the
// lock file and before it locked it (the file is empty then): the next one
// takes the lock over at once instead of waiting for it.
void TestInstallationConcurrency::lockOfADeadInstallerIsTakenOver_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("killed holding the lock") << "install.locked:1";
    QTest::newRow("killed right after making the lock file") << "lock.created:1";
}

void TestInstallationConcurrency::lockOfADeadInstallerIsTakenOver()
{
    QFETCH(QString, fault);
    const Tree base = installed(Tree(), packageFiles(QStringLiteral("base"), 0, 20));
    QVERIFY(writeTree(installPath(), base));
    const Tree x = packageFiles(QStringLiteral("x"), 0, 20);
    QVERIFY(writeFile(packagePath(QStringLiteral("x.ztx")), signedPackage(x)));

    HostProcess dying(installPath(), kAppName);
    dying.useFaultLibrary();
    dying.setEnvironment(QStringLiteral("UPDATER_FAULT"), fault);
    QVERIFY(dying.run({QStringLiteral("update-from-data"), packagePath(QStringLiteral("x.ztx"))}).killed);
    QVERIFY(QFileInfo::exists(installPath() + QStringLiteral("/UPDATES/install.lock")));

    // The library that ships, which would wait two minutes for a live owner.
    HostProcess host(installPath(), kAppName);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(host.run({QStringLiteral("update-from-data"), packagePath(QStringLiteral("x.ztx"))}).result, kInstalled);
    QVERIFY2(clock.elapsed() < 60000, "the installer waited for a lock whose owner had died");
    const Tree now = readTree(installPath());
    const Tree expected = installed(base, x);
    QVERIFY2(now == expected, qPrintable(firstDifference(now, expected)));
    QCOMPARE(updatesEntries(installPath()), QStringList());
}

QTEST_GUILESS_MAIN(TestInstallationConcurrency)
#include "tst_installation_concurrency.moc"
