// Faults of the file system during an installation: no permission to write
// or to move a file aside (in a child process without root's powers), and a
// full disk (a small real filesystem). Each must leave the installation
// folder exactly as it was.

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "InstallationTestTools.h"
#include "controller/CDefaultLibrary.h"
#include "module/ResultTexts.h"
#include "support/LogFile.h"
#include "support/SmallFilesystem.h"
#include "support/TestPaths.h"
#include "support/TreeSnapshot.h"
#include "support/UnprivilegedProcess.h"
#include "support/ZipBuilder.h"

using namespace FileTools;
using namespace InstallationTestTools;

namespace {

const QStringList kUpdates = {QStringLiteral("UPDATES")};

QString childProgram()
{
    return TestPaths::binaryDir() + QStringLiteral("/bin/installation-test-child");
}

} // namespace

class TestInstallationFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void unwritableFolderCannotBeUnpackedInto();
    void fileThatCannotBeMovedAsideStopsEverything();
    void fullDisk_data();
    void fullDisk();
    void updatesOnAnotherFileSystem_data();
    void updatesOnAnotherFileSystem();
    void leftoversAtTheLockPathBlockNothing_data();
    void leftoversAtTheLockPathBlockNothing();

private:
    // Runs the child as nobody, with a home of its own, on the package signed
    // with the test key.
    UnprivilegedRun runChild(const QString& folder, const QByteArray& package);

    QString m_previousDir;
    QScopedPointer<QTemporaryDir> m_root;
};

void TestInstallationFaults::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_installation_faults"));
    m_previousDir = QDir::currentPath();
    QVERIFY2(QFileInfo(childProgram()).isExecutable(), qPrintable(childProgram()));
}

void TestInstallationFaults::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    // The child, as nobody, must be able to reach what lies below.
    QVERIFY(QFile::setPermissions(m_root->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                      | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                                                      | QFile::ExeOther));
}

void TestInstallationFaults::cleanup()
{
    QDir::setCurrent(m_previousDir);
    m_root.reset();
}

UnprivilegedRun TestInstallationFaults::runChild(const QString& folder, const QByteArray& package)
{
    const QString packagePath = m_root->path() + QStringLiteral("/package.zip");
    writeFile(packagePath, VerificationSupport::signedPackage(package));
    const QString home = m_root->path() + QStringLiteral("/child-home");
    QDir().mkpath(home);
    UnprivilegedProcess::giveToNobody(home);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    return UnprivilegedProcess::run(childProgram(), {folder, packagePath}, environment);
}

void TestInstallationFaults::unwritableFolderCannotBeUnpackedInto()
{
    const QString dir = m_root->path() + QStringLiteral("/install");
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "old app"));
    QVERIFY(writeFile(dir + QStringLiteral("/data/a.ini"), "old ini"));
    const TreeSnapshot before = TreeSnapshot::take(dir);

    const UnprivilegedRun child = runChild(
        dir, ZipBuilder().file(QStringLiteral("app.bin"), "new").file(QStringLiteral("b.txt"), "new").bytes());
    QVERIFY2(child.finished, qPrintable(child.output));
    QCOMPARE(child.exitCode, 1);
    QVERIFY2(child.output.startsWith(QString::fromUtf8(ResultTexts::fileSystemError().serialize()) + '\n'),
             qPrintable(child.output));
    const QRegularExpression warning(QStringLiteral("WARN .*CDefaultLibrary::replaceFileByUpdateType :: No permissions to "
                                                    "unzip to %1/UPDATES/\\d+!")
                                         .arg(QRegularExpression::escape(dir)));
    QVERIFY2(warning.match(child.output).hasMatch(), qPrintable(child.output));
    const TreeSnapshot after = TreeSnapshot::take(dir);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
}

void TestInstallationFaults::fileThatCannotBeMovedAsideStopsEverything()
{
    const QString dir = m_root->path() + QStringLiteral("/install");
    QVERIFY(writeFile(dir + QStringLiteral("/a.txt"), "old a"));
    QVERIFY(writeFile(dir + QStringLiteral("/locked/b.txt"), "old b"));
    QVERIFY(writeFile(dir + QStringLiteral("/c.txt"), "old c"));
    // The child may write in the installation folder but not in "locked".
    QVERIFY(UnprivilegedProcess::giveToNobody(dir));
    const TreeSnapshot before = TreeSnapshot::take(dir);

    const QByteArray package = ZipBuilder()
                                   .file(QStringLiteral("a.txt"), "new a")
                                   .file(QStringLiteral("new/d.txt"), "new d")
                                   .file(QStringLiteral("locked/b.txt"), "new b")
                                   .file(QStringLiteral("c.txt"), "new c")
                                   .bytes();
    const UnprivilegedRun child = runChild(dir, package);
    QVERIFY2(child.finished, qPrintable(child.output));
    QCOMPARE(child.exitCode, 1);
    QVERIFY2(child.output.contains(
                 QStringLiteral("CDefaultLibrary::addOldSuffixToFilesName :: Old destination file can't be renamed.")),
             qPrintable(child.output));
    QVERIFY(child.output.contains(QStringLiteral("CDefaultLibrary::revertOldFiles :: Old file reverted.")));
    QVERIFY(!child.output.contains(QStringLiteral("CDefaultLibrary::copyNewFiles")));
    // c.txt comes after the failure and was never touched.
    QVERIFY(!child.output.contains(QStringLiteral("addOldSuffixToFilesName :: oOldFileName=c.txt")));
    const TreeSnapshot after = TreeSnapshot::take(dir, kUpdates);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
    QCOMPARE(updatesEntries(dir), QStringList());
}

void TestInstallationFaults::fullDisk_data()
{
    QTest::addColumn<int>("bigFileSize");
    QTest::addColumn<QString>("mountOptions");
    QTest::addColumn<bool>("installs");

    // On a 2 MiB file system holding 64 KiB: 2.5 MiB do not fit, and the
    // package is refused before anything is unpacked.
    QTest::newRow("does not fit") << 2560 * 1024 << "2m" << false;
    // Room enough, but too few inodes for the package's files: the disk
    // fills part-way through the unpacking, and nothing is installed, no
    // empty or short file left anywhere.
    QTest::newRow("out of inodes") << 64 * 1024 << "2m,nr_inodes=16" << false;
    // 1.2 MiB fit once but not twice: unpacked files are moved into place,
    // not copied, so the package installs.
    QTest::newRow("fits once, not twice") << 1228 * 1024 << "2m" << true;
}

void TestInstallationFaults::fullDisk()
{
    QFETCH(int, bigFileSize);
    QFETCH(QString, mountOptions);
    QFETCH(bool, installs);
    const QString dir = m_root->path() + QStringLiteral("/install");
    QVERIFY(QDir().mkpath(dir));
    SmallFilesystem filesystem(mountOptions, dir);
    QVERIFY2(filesystem.isMounted(), qPrintable(filesystem.error()));
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "old app"));
    QVERIFY(writeFile(dir + QStringLiteral("/big.bin"), incompressibleBytes(64 * 1024, 7)));
    const TreeSnapshot before = TreeSnapshot::take(dir);

    ZipBuilder zip;
    zip.stored().file(QStringLiteral("app.bin"), "new app").file(QStringLiteral("first/new.txt"), "new");
    zip.file(QStringLiteral("big.bin"), incompressibleBytes(bigFileSize, 8));
    for (int i = 0; i < 20; ++i)
        zip.file(QStringLiteral("later/small%1.txt").arg(i), "small " + QByteArray::number(i));
    const QByteArray package = zip.bytes();
    QVERIFY(QDir::setCurrent(dir));
    LogFile log;
    bool installed = !installs;
    {
        CDefaultLibrary library;
        installed = installPackage(library, package);
    }
    QVERIFY(QDir::setCurrent(m_previousDir));
    QCOMPARE(installed, installs);
    QCOMPARE(updatesEntries(dir), QStringList());
    if (installs) {
        QCOMPARE(readFile(dir + QStringLiteral("/big.bin")), incompressibleBytes(bigFileSize, 8));
        QCOMPARE(readFile(dir + QStringLiteral("/later/small19.txt")), QByteArray("small 19"));
        return;
    }
    QVERIFY2(log.hasNewLine(QStringLiteral("No permissions to unzip to")), qPrintable(log.newText()));
    const TreeSnapshot after = TreeSnapshot::take(dir, kUpdates);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
}

void TestInstallationFaults::updatesOnAnotherFileSystem_data()
{
    QTest::addColumn<bool>("folderInTheWay");
    QTest::newRow("installs by copying") << false;
    QTest::newRow("a folder in the way rolls back") << true;
}

// "UPDATES" on a file system of its own: a file cannot be renamed from there
// into the installation folder, so it is copied, and still never over
// anything that stands in its way.
void TestInstallationFaults::updatesOnAnotherFileSystem()
{
    QFETCH(bool, folderInTheWay);
    const QString dir = m_root->path() + QStringLiteral("/install");
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "old app"));
    QVERIFY(writeFile(dir + QStringLiteral("/data/a.ini"), "old ini"));
    if (folderInTheWay)
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/data/z.txt")));
    QVERIFY(QDir().mkpath(dir + QStringLiteral("/UPDATES")));
    SmallFilesystem filesystem(QStringLiteral("4m"), dir + QStringLiteral("/UPDATES"));
    QVERIFY2(filesystem.isMounted(), qPrintable(filesystem.error()));
    const TreeSnapshot before = TreeSnapshot::take(dir, kUpdates);

    const QByteArray package = ZipBuilder()
                                   .file(QStringLiteral("app.bin"), "new app")
                                   .file(QStringLiteral("data/a.ini"), "new ini")
                                   .file(QStringLiteral("data/new/b.txt"), "new b")
                                   .file(QStringLiteral("data/z.txt"), "new z")
                                   .bytes();
    QVERIFY(QDir::setCurrent(dir));
    bool installed = folderInTheWay;
    {
        CDefaultLibrary library;
        installed = installPackage(library, package);
    }
    QVERIFY(QDir::setCurrent(m_previousDir));
    QCOMPARE(updatesEntries(dir), QStringList());
    if (folderInTheWay) {
        QVERIFY(!installed);
        const TreeSnapshot after = TreeSnapshot::take(dir, kUpdates);
        QVERIFY2(before == after, qPrintable(before.differences(after)));
        return;
    }
    QVERIFY(installed);
    QCOMPARE(readFile(dir + QStringLiteral("/app.bin")), QByteArray("new app"));
    QCOMPARE(readFile(dir + QStringLiteral("/data/a.ini")), QByteArray("new ini"));
    QCOMPARE(readFile(dir + QStringLiteral("/data/new/b.txt")), QByteArray("new b"));
    QCOMPARE(readFile(dir + QStringLiteral("/data/z.txt")), QByteArray("new z"));
    QCOMPARE(modeBits(dir + QStringLiteral("/data/new/b.txt")), 0755);
}

// What a killed root run or anyone else left at the lock file's name, which
// the folder's owner could neither open for writing nor lock: the next call
// as that owner installs at once.
void TestInstallationFaults::leftoversAtTheLockPathBlockNothing_data()
{
    QTest::addColumn<QString>("leftover");
    QTest::newRow("root's file, 0644") << "file-0644";
    QTest::newRow("root's file, 0600") << "file-0600";
    QTest::newRow("root's folder with a file") << "folder";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("socket") << "socket";
    QTest::newRow("link") << "link";
}

void TestInstallationFaults::leftoversAtTheLockPathBlockNothing()
{
    QFETCH(QString, leftover);
    const QString dir = m_root->path() + QStringLiteral("/install");
    const QString lock = dir + QStringLiteral("/UPDATES/install.lock");
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "old app"));
    QVERIFY(writeFile(m_root->path() + QStringLiteral("/outside.txt"), "outside"));
    QVERIFY(QDir().mkpath(dir + QStringLiteral("/UPDATES")));
    QCOMPARE(::chmod(QFile::encodeName(dir + QStringLiteral("/UPDATES")).constData(), 0700), 0);
    QVERIFY(UnprivilegedProcess::giveToNobody(dir));
    QVERIFY(UnprivilegedProcess::giveToNobody(dir + QStringLiteral("/app.bin")));
    QVERIFY(UnprivilegedProcess::giveToNobody(dir + QStringLiteral("/UPDATES")));
    const QByteArray lockName = QFile::encodeName(lock);
    if (leftover.startsWith(QLatin1String("file-"))) {
        QVERIFY(writeFile(lock, "4242\nupdater-host\n"));
        QCOMPARE(::chmod(lockName.constData(), leftover.endsWith(QLatin1String("0644")) ? 0644 : 0600), 0);
    } else if (leftover == QLatin1String("folder")) {
        QVERIFY(writeFile(lock + QStringLiteral("/inside"), "root's"));
    } else if (leftover == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(lockName.constData(), 0644), 0);
    } else if (leftover == QLatin1String("socket")) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QVERIFY(size_t(lockName.size()) < sizeof(address.sun_path));
        std::memcpy(address.sun_path, lockName.constData(), size_t(lockName.size()));
        QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
    } else {
        QVERIFY(QFile::link(m_root->path() + QStringLiteral("/outside.txt"), lock));
    }

    const UnprivilegedRun child = runChild(dir, ZipBuilder().file(QStringLiteral("app.bin"), "new app").bytes());
    QVERIFY2(child.finished, qPrintable(child.output));
    QVERIFY2(child.exitCode == 0, qPrintable(child.output));
    QCOMPARE(readFile(dir + QStringLiteral("/app.bin")), QByteArray("new app"));
    QCOMPARE(readFile(m_root->path() + QStringLiteral("/outside.txt")), QByteArray("outside"));
}

QTEST_GUILESS_MAIN(TestInstallationFaults)
#include "tst_installation_faults.moc"
