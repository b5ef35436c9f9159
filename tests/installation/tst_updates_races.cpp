// Others at work in "UPDATES" while updates run: the folder exchanged with a
// link to elsewhere every few milliseconds, and another user exchanging the
// unpack folders with links while root installs. Nothing outside the
// installation folder may change, and nothing the packages do not name
// inside it.

#include <QtTest>

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <thread>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "InstallationTestTools.h"
#include "module/ResultTexts.h"
#include "support/UnprivilegedProcess.h"

using namespace FileTools;
using namespace InstallationTestTools;

class TestUpdatesRaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void folderExchangedWithALink();
    void unpackFoldersExchangedByAnotherUser();

private:
    QString installPath() const { return m_root->path() + QStringLiteral("/install"); }
    QString victimPath() const { return m_root->path() + QStringLiteral("/victim"); }
    // Two signed packages, installed in turn.
    QByteArray package(int round) const { return m_packages[round % 2]; }

    QString m_previousDir;
    QByteArray m_packages[2];
    QScopedPointer<QTemporaryDir> m_root;
};

void TestUpdatesRaces::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_updates_races"));
    m_previousDir = QDir::currentPath();
    for (int i = 0; i < 2; ++i)
        m_packages[i] = signedPackage({{QStringLiteral("app.bin"), "version " + QByteArray::number(i)},
                                       {QStringLiteral("lib/a.txt"), "a " + QByteArray::number(i)}})
                            .toBase64();
}

// A folder outside with what recovery would remove, were it taken for
// "UPDATES": a folder named like an unpack folder, a journal that would
// remove keep.txt, a lock.
void TestUpdatesRaces::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    QCOMPARE(::chmod(QFile::encodeName(m_root->path()).constData(), 0755), 0);
    QVERIFY(writeFile(installPath() + QStringLiteral("/keep.txt"), "installed"));
    QVERIFY(writeFile(victimPath() + QStringLiteral("/2023/photo.jpg"), "a photo"));
    QVERIFY(writeFile(victimPath() + QStringLiteral("/1796700000000.journal"),
                      journalJson(QStringLiteral("keep.txt"), false)));
    QVERIFY(writeFile(victimPath() + QStringLiteral("/install.lock"), ""));
}

void TestUpdatesRaces::cleanup()
{
    QDir::setCurrent(m_previousDir);
    m_root.reset();
}

void TestUpdatesRaces::folderExchangedWithALink()
{
    const QByteArray updates = QFile::encodeName(installPath() + QStringLiteral("/UPDATES"));
    const QByteArray swap = QFile::encodeName(installPath() + QStringLiteral("/swap"));
    QVERIFY(QDir().mkdir(QFile::decodeName(updates)));
    QVERIFY(QFile::link(victimPath(), QFile::decodeName(swap)));
    const Tree victim = readTree(victimPath());

    std::atomic<bool> stop(false);
    std::atomic<int> exchanges(0);
    std::thread exchanger([&] {
        while (!stop.load()) {
            if (::syscall(SYS_renameat2, AT_FDCWD, updates.constData(), AT_FDCWD, swap.constData(), RENAME_EXCHANGE)
                == 0)
                ++exchanges;
            ::usleep(3000);
        }
    });
    QVERIFY(QDir::setCurrent(installPath()));
    int installed = 0;
    // At least 200 updates, and as many as it takes for 100 exchanges.
    for (int round = 0; round < 200 || exchanges.load() < 100; ++round) {
        CDefaultLibrary library;
        const QByteArray result = library.UpdateFromData({{"data", package(round)}}, {});
        if (result == ResultTexts::fileUpdated().serialize())
            ++installed;
        else
            QCOMPARE(result, ResultTexts::fileSystemError().serialize());
    }
    stop.store(true);
    exchanger.join();
    QVERIFY(QDir::setCurrent(m_previousDir));

    const Tree after = readTree(victimPath());
    QVERIFY2(after == victim, qPrintable(firstDifference(after, victim)));
    QCOMPARE(readFile(installPath() + QStringLiteral("/keep.txt")), QByteArray("installed"));
    QVERIFY(installed > 0);
}

// "UPDATES" as earlier versions made it under umask 000, root's and writable
// by everyone; another user plants a journal in it and exchanges each unpack
// folder that appears with a link to a folder of theirs.
void TestUpdatesRaces::unpackFoldersExchangedByAnotherUser()
{
    const QString updates = installPath() + QStringLiteral("/UPDATES");
    QVERIFY(QDir().mkdir(updates));
    QCOMPARE(::chmod(QFile::encodeName(updates).constData(), 0777), 0);
    QVERIFY(UnprivilegedProcess::giveToNobody(victimPath()));
    QVERIFY(UnprivilegedProcess::giveToNobody(victimPath() + QStringLiteral("/2023")));
    const Tree victim = readTree(victimPath());

    QProcess attacker;
    attacker.setProcessChannelMode(QProcess::MergedChannels);
    UnprivilegedProcess::start(attacker, TestPaths::binaryDir() + QStringLiteral("/bin/installation-test-child"),
                               {QStringLiteral("--swap-unpack-folders"), updates, victimPath()});
    QVERIFY(attacker.waitForStarted(10000));
    QVERIFY(attacker.waitForReadyRead(10000));
    QVERIFY2(attacker.readAll().contains("planted"), "the other user could not write into UPDATES");

    QVERIFY(QDir::setCurrent(installPath()));
    for (int round = 0; round < 20; ++round) {
        CDefaultLibrary library;
        QCOMPARE(library.UpdateFromData({{"data", package(round)}}, {}), ResultTexts::fileUpdated().serialize());
    }
    QVERIFY(QDir::setCurrent(m_previousDir));
    attacker.kill();
    attacker.waitForFinished(5000);

    const Tree after = readTree(victimPath());
    QVERIFY2(after == victim, qPrintable(firstDifference(after, victim)));
    QCOMPARE(readFile(installPath() + QStringLiteral("/keep.txt")), QByteArray("installed"));
    QCOMPARE(readFile(installPath() + QStringLiteral("/app.bin")), QByteArray("version 1"));
}

QTEST_GUILESS_MAIN(TestUpdatesRaces)
#include "tst_updates_races.moc"
