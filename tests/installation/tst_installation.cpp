// Unpacking and the replacement transaction, driven in this process on real
// files: the current directory is a fresh installation folder for each test.

#include <QtTest>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <QRegularExpression>
#include <QTemporaryDir>

#include <thread>
#include <vector>

#include <unistd.h>

#include "InstallationTestTools.h"
#include "module/ResultTexts.h"
#include "controller/CDefaultLibraryTestAccess.h"
#include "support/LogFile.h"
#include "support/TreeSnapshot.h"
#include "support/ZipBuilder.h"

using namespace FileTools;
using namespace InstallationTestTools;

namespace {
const QStringList kUpdates = {QStringLiteral("UPDATES")};
}

class TestInstallation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void installsOverTheInstalledFiles();
    void packageOfFoldersOnlySucceeds();
    void linksInsideThePackageAreFollowed();
    void emptyPackageFails();
    void unreadablePackageFails();
    void failedCopyRestoresEverything();
    void refusedPackagesTouchNothing_data();
    void refusedPackagesTouchNothing();
    void filesThePackageShipsAreNotCleanedAway();
    void twoThreadsInstallOneAfterTheOther();
    void leftoversOfInterruptedUnpackingAreRemoved();
    void leftLockFilesDelayNothing_data();
    void leftLockFilesDelayNothing();
    void plantedLeftoversChangeNothingOutside_data();
    void plantedLeftoversChangeNothingOutside();
    void packagesCannotReachUpdates_data();
    void packagesCannotReachUpdates();
    void updatesFolderIsPrivate_data();
    void updatesFolderIsPrivate();
    void unusableJournalsAreMovedAsideOnce();

private:
    QString installPath() const { return m_root->path() + QStringLiteral("/install"); }
    QString outsidePath() const { return m_root->path() + QStringLiteral("/outside"); }

    QString m_previousDir;
    QScopedPointer<QTemporaryDir> m_root;
};

void TestInstallation::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_installation"));
    m_previousDir = QDir::currentPath();
}

void TestInstallation::init()
{
    m_root.reset(new QTemporaryDir);
    QVERIFY(m_root->isValid());
    QVERIFY(QDir().mkpath(installPath()));
    QVERIFY(writeFile(outsidePath() + QStringLiteral("/secret"), "outside secret"));
    QVERIFY(writeFile(outsidePath() + QStringLiteral("/z.old"), "reached only through a link"));
    QVERIFY(QDir::setCurrent(installPath()));
}

void TestInstallation::cleanup()
{
    QDir::setCurrent(m_previousDir);
    m_root.reset();
}

void TestInstallation::installsOverTheInstalledFiles()
{
    const QString dir = installPath();
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "old app"));
    QVERIFY(writeFile(dir + QStringLiteral("/data/a.ini"), "old ini"));
    QVERIFY(writeFile(dir + QStringLiteral("/keep.txt"), "not in the package"));
    QVERIFY(writeFile(dir + QStringLiteral("/stale.old"), "left by someone"));
    QVERIFY(writeFile(dir + QStringLiteral("/sub/x.OLD"), "upper case"));
    // An unpack folder without a journal: an installation killed while
    // unpacking, removed before this one starts.
    QVERIFY(writeFile(dir + QStringLiteral("/UPDATES/123/left.old"), "left in an unpack folder"));
    QVERIFY(writeFile(dir + QStringLiteral("/.hidden.old"), "hidden"));
    QVERIFY(writeFile(dir + QStringLiteral("/.hiddendir/y.old"), "in a hidden folder"));
    QVERIFY(QFile::link(outsidePath(), dir + QStringLiteral("/linked")));
    QVERIFY(QFile::link(dir + QStringLiteral("/keep.txt"), dir + QStringLiteral("/link.old")));

    const QByteArray package = ZipBuilder()
                                   .file(QStringLiteral("app.bin"), "new app")
                                   .directory(QStringLiteral("data"))
                                   .file(QStringLiteral("data/a.ini"), "new ini")
                                   .file(QStringLiteral("new/deep/b.txt"), "new file in new folders")
                                   .directory(QStringLiteral("emptydir"))
                                   .bytes();
    LogFile log;
    CDefaultLibrary library;
    QVERIFY(installPackage(library, package));

    const QStringList expected = {QStringLiteral(".hidden.old"), QStringLiteral(".hiddendir"),
                                  QStringLiteral(".hiddendir/y.old"), QStringLiteral("UPDATES"),
                                  QStringLiteral("app.bin"),
                                  QStringLiteral("data"), QStringLiteral("data/a.ini"),
                                  QStringLiteral("keep.txt"), QStringLiteral("link.old"),
                                  QStringLiteral("linked"), QStringLiteral("new"),
                                  QStringLiteral("new/deep"), QStringLiteral("new/deep/b.txt"),
                                  QStringLiteral("sub")};
    QCOMPARE(TreeSnapshot::take(dir).names(), expected);
    QCOMPARE(readFile(dir + QStringLiteral("/app.bin")), QByteArray("new app"));
    QCOMPARE(readFile(dir + QStringLiteral("/data/a.ini")), QByteArray("new ini"));
    QCOMPARE(readFile(dir + QStringLiteral("/new/deep/b.txt")), QByteArray("new file in new folders"));
    QCOMPARE(readFile(dir + QStringLiteral("/keep.txt")), QByteArray("not in the package"));
    for (const QString& installed : {QStringLiteral("app.bin"), QStringLiteral("data/a.ini"),
                                     QStringLiteral("new/deep/b.txt")})
        QCOMPARE(modeBits(dir + QLatin1Char('/') + installed), 0755);
    // Reached only through a symbolic link: left alone.
    QVERIFY(QFile::exists(outsidePath() + QStringLiteral("/z.old")));

    // The replaced file was moved aside under the run's stamp, then deleted.
    const QRegularExpression movedAside(QStringLiteral("oOldFileName=data/a\\.ini\\.(\\d+)\\.old"));
    const QRegularExpressionMatch match = movedAside.match(log.newText());
    QVERIFY2(match.hasMatch(), qPrintable(log.newText()));
    QVERIFY(log.hasNewLine(QStringLiteral("oTimestampPath=") + dir + QStringLiteral("/UPDATES/")
                           + match.captured(1)));
    QVERIFY(log.hasNewLine(QStringLiteral("Temporary updates files in UPDATES directory removed")));
    QVERIFY(log.hasNewLine(QStringLiteral("Found <4> old files")));
}

void TestInstallation::packageOfFoldersOnlySucceeds()
{
    QVERIFY(writeFile(installPath() + QStringLiteral("/app.bin"), "installed"));
    const TreeSnapshot before = TreeSnapshot::take(installPath());
    CDefaultLibrary library;
    QVERIFY(installPackage(
        library, ZipBuilder().directory(QStringLiteral("d1")).directory(QStringLiteral("d1/d2")).bytes()));
    const TreeSnapshot after = TreeSnapshot::take(installPath(), kUpdates);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
    QCOMPARE(updatesEntries(installPath()), QStringList());
}

void TestInstallation::linksInsideThePackageAreFollowed()
{
    const QByteArray package = ZipBuilder()
                                   .file(QStringLiteral("real/a.txt"), "a")
                                   .symlink(QStringLiteral("alias"), QStringLiteral("real"))
                                   .file(QStringLiteral("alias/c.txt"), "c")
                                   .symlink(QStringLiteral("lib/b.txt"), QStringLiteral("../real/a.txt"))
                                   .bytes();
    CDefaultLibrary library;
    QVERIFY(installPackage(library, package));
    const QString dir = installPath();
    QCOMPARE(readFile(dir + QStringLiteral("/real/a.txt")), QByteArray("a"));
    QCOMPARE(readFile(dir + QStringLiteral("/alias/c.txt")), QByteArray("c"));
    QVERIFY(!QFileInfo(dir + QStringLiteral("/lib/b.txt")).isSymLink());
    QCOMPARE(readFile(dir + QStringLiteral("/lib/b.txt")), QByteArray("a"));
    QCOMPARE(updatesEntries(dir), QStringList());
}

void TestInstallation::emptyPackageFails()
{
    QVERIFY(writeFile(installPath() + QStringLiteral("/app.bin"), "installed"));
    const TreeSnapshot before = TreeSnapshot::take(installPath());
    LogFile log;
    CDefaultLibrary library;
    QVERIFY(!installPackage(library, ZipBuilder().bytes()));
    const TreeSnapshot after = TreeSnapshot::take(installPath(), kUpdates);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
    QCOMPARE(updatesEntries(installPath()), QStringList());
    const QRegularExpression warning(QStringLiteral("No permissions to unzip to %1/UPDATES/\\d+!")
                                         .arg(QRegularExpression::escape(installPath())));
    QVERIFY2(warning.match(log.newText()).hasMatch(), qPrintable(log.newText()));
}

void TestInstallation::unreadablePackageFails()
{
    CDefaultLibrary library;
    QVERIFY(!installPackage(library, QByteArray("this is not a zip archive")));
    QCOMPARE(updatesEntries(installPath()), QStringList());
}

void TestInstallation::failedCopyRestoresEverything()
{
    const QString dir = installPath();
    QVERIFY(writeFile(dir + QStringLiteral("/a.txt"), "old a"));
    QVERIFY(writeFile(dir + QStringLiteral("/b.txt"), "old b"));
    QVERIFY(writeFile(dir + QStringLiteral("/conf"), "a file where the package needs a folder"));
    QVERIFY(writeFile(dir + QStringLiteral("/z.txt"), "old z"));
    QVERIFY(QFile::setPermissions(dir + QStringLiteral("/b.txt"), QFile::ReadOwner | QFile::WriteOwner));
    const TreeSnapshot before = TreeSnapshot::take(dir);

    // Third of five fails: two copies made before it, one old file after it.
    const QByteArray package = ZipBuilder()
                                   .file(QStringLiteral("a.txt"), "new a")
                                   .file(QStringLiteral("newdir/inner/n.txt"), "new n")
                                   .file(QStringLiteral("conf/x.ini"), "cannot go anywhere")
                                   .file(QStringLiteral("b.txt"), "new b")
                                   .file(QStringLiteral("z.txt"), "new z")
                                   .bytes();
    LogFile log;
    CDefaultLibrary library;
    QVERIFY(!installPackage(library, package));
    const TreeSnapshot after = TreeSnapshot::take(dir, kUpdates);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
    QCOMPARE(updatesEntries(dir), QStringList());
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::copyNewFiles :: Can't copy file to destination folder.")));
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::revertOldFiles :: Old file reverted.")));
}

// Entries as "file|name" or "link|name|target"; "@OUT" stands for the folder
// beside the installation folder, "@ROOT" for the folder holding both.
void TestInstallation::refusedPackagesTouchNothing_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("installLink"); // a link "shared" in the installation folder, to this target

    QTest::newRow("absolute name") << QStringList{QStringLiteral("file|@OUT/evil")} << QString();
    QTest::newRow("climbs out") << QStringList{QStringLiteral("file|../../../outside/evil")} << QString();
    QTest::newRow("climbs out after a folder")
        << QStringList{QStringLiteral("file|a/../../../../outside/evil")} << QString();
    QTest::newRow("dot-dot that comes back inside") << QStringList{QStringLiteral("file|a/../app.bin")} << QString();
    QTest::newRow("entry below an absolute link")
        << QStringList{QStringLiteral("link|l|@OUT"), QStringLiteral("file|l/evil")} << QString();
    QTest::newRow("entry below a relative link")
        << QStringList{QStringLiteral("link|d/l|../../../../outside"), QStringLiteral("file|d/l/evil")} << QString();
    QTest::newRow("link to a file outside") << QStringList{QStringLiteral("link|copied|@OUT/secret")} << QString();
    QTest::newRow("link that leaves through a later link")
        << QStringList{QStringLiteral("link|l|x/x/x/../../../outside/secret"), QStringLiteral("link|x|.")}
        << QString();
    QTest::newRow("installation link leading outside") << QStringList{QStringLiteral("file|shared/evil")}
                                                       << QStringLiteral("@OUT");
    QTest::newRow("installation link leading nowhere") << QStringList{QStringLiteral("file|shared/evil")}
                                                       << QStringLiteral("@ROOT/missing");
    // Names the file system takes, but not once moved aside as
    // "<name>.<run stamp>.old", and names it does not take at all.
    QTest::newRow("file name too long to be moved aside")
        << QStringList{QStringLiteral("file|sub/") + QString(240, QLatin1Char('n'))} << QString();
    QTest::newRow("folder name too long") << QStringList{QStringLiteral("file|") + QString(256, QLatin1Char('d'))
                                                         + QStringLiteral("/x")}
                                          << QString();
    QTest::newRow("same file twice") << QStringList{QStringLiteral("file|sub/twice"), QStringLiteral("file|sub/twice")}
                                     << QString();
}

void TestInstallation::refusedPackagesTouchNothing()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, installLink);

    ZipBuilder builder;
    builder.file(QStringLiteral("app.bin"), "new app");
    for (QString entry : entries) {
        entry.replace(QStringLiteral("@OUT"), outsidePath()).replace(QStringLiteral("@ROOT"), m_root->path());
        const QStringList parts = entry.split(QLatin1Char('|'));
        if (parts.first() == QLatin1String("link"))
            builder.symlink(parts.at(1), parts.at(2));
        else
            builder.file(parts.at(1), "evil");
    }
    const QByteArray package = builder.bytes();
    installLink.replace(QStringLiteral("@OUT"), outsidePath()).replace(QStringLiteral("@ROOT"), m_root->path());

    const QString dir = installPath();
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "old app"));
    QVERIFY(writeFile(dir + QStringLiteral("/sub/other.txt"), "other"));
    if (!installLink.isEmpty())
        QVERIFY(QFile::link(installLink, dir + QStringLiteral("/shared")));
    const TreeSnapshot before = TreeSnapshot::take(dir);
    const TreeSnapshot outsideBefore = TreeSnapshot::take(m_root->path(), {QStringLiteral("install")});

    CDefaultLibrary library;
    QVERIFY(!installPackage(library, package));

    const TreeSnapshot after = TreeSnapshot::take(dir, kUpdates);
    QVERIFY2(before == after, qPrintable(before.differences(after)));
    const TreeSnapshot outsideAfter = TreeSnapshot::take(m_root->path(), {QStringLiteral("install")});
    QVERIFY2(outsideBefore == outsideAfter, qPrintable(outsideBefore.differences(outsideAfter)));
    QCOMPARE(updatesEntries(dir), QStringList());
}

// The clean-up after an installation deletes old files, but not those the
// package itself has just put in place.
void TestInstallation::filesThePackageShipsAreNotCleanedAway()
{
    const QString dir = installPath();
    QVERIFY(writeFile(dir + QStringLiteral("/stale.old"), "left by someone"));
    QVERIFY(writeFile(dir + QStringLiteral("/sub/backup.OLD"), "installed before"));
    const QByteArray package = ZipBuilder()
                                   .file(QStringLiteral("notes.old"), "shipped")
                                   .file(QStringLiteral("sub/backup.OLD"), "shipped too")
                                   .bytes();
    CDefaultLibrary library;
    QVERIFY(installPackage(library, package));
    QCOMPARE(readFile(dir + QStringLiteral("/notes.old")), QByteArray("shipped"));
    QCOMPARE(readFile(dir + QStringLiteral("/sub/backup.OLD")), QByteArray("shipped too"));
    QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/stale.old")));
    QCOMPARE(QDir(dir + QStringLiteral("/sub")).entryList(QDir::Files), QStringList{QStringLiteral("backup.OLD")});
}

// Two threads of one process install into the same folder at once: the
// lock lets one wait for the other, and both succeed.
void TestInstallation::twoThreadsInstallOneAfterTheOther()
{
    const QString dir = installPath();
    ZipBuilder first;
    ZipBuilder second;
    for (int i = 0; i < 200; ++i) {
        first.file(QStringLiteral("shared/f%1.txt").arg(i), "first");
        second.file(QStringLiteral("shared/f%1.txt").arg(i), "second");
    }
    first.file(QStringLiteral("first.txt"), "first");
    second.file(QStringLiteral("second.txt"), "second");
    const QByteArray packages[] = {first.bytes(), second.bytes()};
    bool installed[] = {false, false};
    std::vector<std::thread> threads;
    for (int k = 0; k < 2; ++k) {
        threads.emplace_back([&, k] {
            CDefaultLibrary library;
            installed[k] = installPackage(library, packages[k]);
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QVERIFY(installed[0] && installed[1]);
    QCOMPARE(readFile(dir + QStringLiteral("/first.txt")), QByteArray("first"));
    QCOMPARE(readFile(dir + QStringLiteral("/second.txt")), QByteArray("second"));
    // Every shared file from the installation that ran last.
    const QByteArray last = readFile(dir + QStringLiteral("/shared/f0.txt"));
    for (int i = 1; i < 200; ++i)
        QCOMPARE(readFile(dir + QStringLiteral("/shared/f%1.txt").arg(i)), last);
    QCOMPARE(updatesEntries(dir), QStringList());
    QCOMPARE(QDir(dir + QStringLiteral("/shared")).entryList(QDir::Files).size(), 200);
}

// What an installation killed while unpacking left: an unpack folder with no
// journal, a journal QSaveFile had not finished, a lock of a dead process.
// The next update call clears them away before anything else; one that finds
// nothing to clear (or no "UPDATES" at all) creates nothing.
void TestInstallation::leftoversOfInterruptedUnpackingAreRemoved()
{
    const QString dir = installPath();
    QVERIFY(writeFile(dir + QStringLiteral("/app.bin"), "installed"));
    CDefaultLibrary untouched;
    const CDefaultLibraryTestAccess untouchedAccess(untouched);
    untouchedAccess.recoverInterruptedInstallations();
    QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/UPDATES")));
    QVERIFY(QDir().mkpath(dir + QStringLiteral("/UPDATES")));
    const QDateTime modified = QFileInfo(dir + QStringLiteral("/UPDATES")).lastModified();
    untouchedAccess.recoverInterruptedInstallations();
    QCOMPARE(QFileInfo(dir + QStringLiteral("/UPDATES")).lastModified(), modified);

    QVERIFY(writeFile(dir + QStringLiteral("/UPDATES/1796700000000/app.bin"), "half unpacked"));
    QVERIFY(writeFile(dir + QStringLiteral("/UPDATES/1796700000001.journal.Ab12Cd"), "{\"form"));
    QVERIFY(writeFile(dir + QStringLiteral("/UPDATES/install.lock"), "999999999\nupdater-host\n\n"));
    QVERIFY(writeFile(dir + QStringLiteral("/UPDATES/not-ours.txt"), "left alone"));
    CDefaultLibrary library;
    CDefaultLibraryTestAccess(library).recoverInterruptedInstallations();
    QCOMPARE(updatesEntries(dir), QStringList{QStringLiteral("not-ours.txt")});
    QCOMPARE(readFile(dir + QStringLiteral("/app.bin")), QByteArray("installed"));
}

// Whatever a lock file holds, an installation that finds nobody holding its
// lock goes ahead at once: the lock is the operating system's, not the file's.
void TestInstallation::leftLockFilesDelayNothing_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbled") << QByteArray("\x01\xfe garbage\n\n\n\n");
    QTest::newRow("a dead process") << QByteArray("999999999\nupdater-host\n") + QSysInfo::machineHostName().toLatin1()
                                           + "\n";
    // As after a restart in a container: the PID is alive again, and its
    // program has the same name.
    QTest::newRow("a live process of that name")
        << QByteArray::number(QCoreApplication::applicationPid()) + '\n' + QCoreApplication::applicationName().toLatin1()
               + '\n' + QSysInfo::machineHostName().toLatin1() + "\n" + QSysInfo::bootUniqueId() + "\n";
}

void TestInstallation::leftLockFilesDelayNothing()
{
    QFETCH(QByteArray, content);
    QVERIFY(writeFile(installPath() + QStringLiteral("/UPDATES/install.lock"), content));
    QElapsedTimer clock;
    clock.start();
    CDefaultLibrary library;
    const QByteArray result =
        library.UpdateFromData({{"data", signedPackage({{QStringLiteral("app.bin"), "new"}}).toBase64()}}, {});
    QCOMPARE(result, ResultTexts::fileUpdated().serialize());
    QVERIFY2(clock.elapsed() < 60000, "the installation waited for a lock nobody held");
    QCOMPARE(readFile(installPath() + QStringLiteral("/app.bin")), QByteArray("new"));
    QCOMPARE(updatesEntries(installPath()), QStringList());
}

// What someone who could write into the folder planted there: journals that
// would remove or rename files outside the installation folder if played
// back, and an "UPDATES" that leads elsewhere or is another user's. Nothing
// outside the installation folder changes, whether the call's package is
// signed (installed, or refused for the folder: 41) or not (43). A planted
// journal is moved aside, not played back.
void TestInstallation::plantedLeftoversChangeNothingOutside_data()
{
    QTest::addColumn<QString>("plant");
    QTest::addColumn<bool>("signedPackage");
    QTest::addColumn<QByteArray>("result");
    QTest::addColumn<QString>("movedAside"); // what is left in "UPDATES", when it is the installation's
    const QByteArray installed = ResultTexts::fileUpdated().serialize();
    const QByteArray refused = ResultTexts::fileSystemError().serialize();
    const QByteArray unverified = ResultTexts::verificationError().serialize();
    const QString journalAside = QStringLiteral("1796700000000.journal.rejected");
    for (const bool isSigned : {true, false}) {
        const QByteArray withPlantedJournal = isSigned ? installed : unverified;
        const QByteArray withPlantedFolder = isSigned ? refused : unverified;
        const char* const kind = isSigned ? ", signed" : ", unsigned";
        QTest::newRow(qPrintable(QStringLiteral("absolute path") + kind))
            << "absolute" << isSigned << withPlantedJournal << journalAside;
        QTest::newRow(qPrintable(QStringLiteral("parent folder") + kind))
            << "parent" << isSigned << withPlantedJournal << journalAside;
        QTest::newRow(qPrintable(QStringLiteral("through a link") + kind))
            << "link" << isSigned << withPlantedJournal << journalAside;
        QTest::newRow(qPrintable(QStringLiteral("created folder through a link") + kind))
            << "folder" << isSigned << withPlantedJournal << journalAside;
        QTest::newRow(qPrintable(QStringLiteral("committed journal through a link") + kind))
            << "committed" << isSigned << withPlantedJournal << QStringLiteral("1796700000000.committed.rejected");
        QTest::newRow(qPrintable(QStringLiteral("UPDATES is a link") + kind))
            << "updates-link" << isSigned << withPlantedFolder << QString();
        QTest::newRow(qPrintable(QStringLiteral("UPDATES of another user") + kind))
            << "updates-foreign" << isSigned << withPlantedFolder << QString();
    }
}

void TestInstallation::plantedLeftoversChangeNothingOutside()
{
    QFETCH(QString, plant);
    QFETCH(bool, signedPackage);
    QFETCH(QByteArray, result);
    QFETCH(QString, movedAside);
    const QString dir = installPath();
    const QString outside = outsidePath();
    const QString stamp = QStringLiteral("1796700000000");
    QVERIFY(writeFile(dir + QStringLiteral("/keep.txt"), "installed"));
    QVERIFY(writeFile(outside + QStringLiteral("/secret.") + stamp + QStringLiteral(".old"), "outside old"));
    QVERIFY(QDir().mkpath(outside + QStringLiteral("/empty")));
    QVERIFY(QFile::link(outside, dir + QStringLiteral("/linked")));
    const QString journalPath = dir + QStringLiteral("/UPDATES/") + stamp + QStringLiteral(".journal");
    if (plant == QLatin1String("absolute"))
        QVERIFY(writeFile(journalPath, journalJson(outside + QStringLiteral("/secret"), false)));
    else if (plant == QLatin1String("parent"))
        QVERIFY(writeFile(journalPath, journalJson(QStringLiteral("../outside/secret"), true)));
    else if (plant == QLatin1String("link"))
        QVERIFY(writeFile(journalPath, journalJson(QStringLiteral("linked/secret"), true)));
    else if (plant == QLatin1String("folder"))
        QVERIFY(writeFile(journalPath, journalJson(QStringLiteral("keep.txt"), true, QStringLiteral("linked/empty"))));
    else if (plant == QLatin1String("committed"))
        QVERIFY(writeFile(dir + QStringLiteral("/UPDATES/") + stamp + QStringLiteral(".committed"),
                          journalJson(QStringLiteral("linked/secret"), true)));
    if (plant.startsWith(QLatin1String("updates-"))) {
        // A journal that would remove an installed file if it were read.
        QVERIFY(writeFile(outside + QLatin1Char('/') + stamp + QStringLiteral(".journal"),
                          journalJson(QStringLiteral("keep.txt"), false)));
        if (plant == QLatin1String("updates-link")) {
            QVERIFY(QFile::link(outside, dir + QStringLiteral("/UPDATES")));
        } else {
            QVERIFY(QDir().mkdir(dir + QStringLiteral("/UPDATES")));
            QVERIFY(QFile::copy(outside + QLatin1Char('/') + stamp + QStringLiteral(".journal"),
                                dir + QStringLiteral("/UPDATES/") + stamp + QStringLiteral(".journal")));
            QCOMPARE(::chown(QFile::encodeName(dir + QStringLiteral("/UPDATES")).constData(), 65534, 65534), 0);
        }
    }
    const Tree outsideBefore = readTree(outside);
    const Tree before = readTree(dir);

    const Tree files{{QStringLiteral("app.bin"), "new"}};
    const QByteArray package = signedPackage ? InstallationTestTools::signedPackage(files)
                                             : ZipBuilder().file(QStringLiteral("app.bin"), "new").bytes();
    CDefaultLibrary library;
    QCOMPARE(library.UpdateFromData({{"data", package.toBase64()}}, {}), result);
    const Tree outsideAfter = readTree(outside);
    QVERIFY2(outsideAfter == outsideBefore, qPrintable(firstDifference(outsideAfter, outsideBefore)));
    const Tree after = readTree(dir);
    const Tree expected = result == ResultTexts::fileUpdated().serialize() ? installed(before, files) : before;
    QVERIFY2(after == expected, qPrintable(firstDifference(after, expected)));
    if (!movedAside.isEmpty())
        QCOMPARE(updatesEntries(dir), QStringList{movedAside});
}

// A package that brings the module's own files (as a publisher who packs an
// installed copy of the application would): refused before anything is
// written, also when it reaches "UPDATES" through a link of the
// installation; the next ordinary update finds nothing of it.
void TestInstallation::packagesCannotReachUpdates_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("throughLink");
    QTest::newRow("a journal") << "UPDATES/1700000000001.journal" << false;
    QTest::newRow("the folder as a file") << "UPDATES" << false;
    QTest::newRow("through a link of the installation") << "u/1700000000001.journal" << true;
}

void TestInstallation::packagesCannotReachUpdates()
{
    QFETCH(QString, entry);
    QFETCH(bool, throughLink);
    const QString dir = installPath();
    QVERIFY(writeFile(dir + QStringLiteral("/keep.txt"), "installed"));
    QVERIFY(QDir().mkpath(dir + QStringLiteral("/UPDATES")));
    if (throughLink)
        QVERIFY(QFile::link(QStringLiteral("UPDATES"), dir + QStringLiteral("/u")));
    const QByteArray journal =
        journalJson(QStringLiteral("keep.txt"), false, QString(), QStringLiteral("1700000000001"));
    const Tree before = readTree(dir);
    {
        CDefaultLibrary library;
        const QByteArray package = VerificationSupport::signedPackage(
            ZipBuilder().file(QStringLiteral("app.bin"), "new").file(entry, journal).bytes());
        QCOMPARE(library.UpdateFromData({{"data", package.toBase64()}}, {}), ResultTexts::fileSystemError().serialize());
    }
    const Tree after = readTree(dir);
    QVERIFY2(after == before, qPrintable(firstDifference(after, before)));
    QCOMPARE(updatesEntries(dir), QStringList());

    CDefaultLibrary next;
    const Tree files{{QStringLiteral("app.bin"), "new"}};
    QCOMPARE(next.UpdateFromData({{"data", signedPackage(files).toBase64()}}, {}), ResultTexts::fileUpdated().serialize());
    QCOMPARE(readFile(dir + QStringLiteral("/keep.txt")), QByteArray("installed"));
}

// "UPDATES" and what the module makes in it are writable by their owner
// only, whatever the umask; one of the caller's that others may write into
// (as earlier versions made it under umask 000 or 002) is made private and
// used, one of another user's is refused.
void TestInstallation::updatesFolderIsPrivate_data()
{
    QTest::addColumn<QString>("plant");
    QTest::addColumn<bool>("installs");
    QTest::newRow("made under umask 000") << "none" << true;
    QTest::newRow("0777, the caller's") << "mine" << true;
    QTest::newRow("0777, another user's") << "foreign" << false;
}

void TestInstallation::updatesFolderIsPrivate()
{
    QFETCH(QString, plant);
    QFETCH(bool, installs);
    const QString updates = installPath() + QStringLiteral("/UPDATES");
    if (plant != QLatin1String("none")) {
        QVERIFY(QDir().mkdir(updates));
        QCOMPARE(::chmod(QFile::encodeName(updates).constData(), 0777), 0);
        if (plant == QLatin1String("foreign"))
            QCOMPARE(::chown(QFile::encodeName(updates).constData(), 65534, 65534), 0);
    }
    const mode_t previousMask = ::umask(0);
    CDefaultLibrary library;
    const QByteArray result = library.UpdateFromData(
        {{"data", signedPackage({{QStringLiteral("app.bin"), "new"}}).toBase64()}}, {});
    ::umask(previousMask);
    QCOMPARE(result, installs ? ResultTexts::fileUpdated().serialize() : ResultTexts::fileSystemError().serialize());
    QCOMPARE(QFile::exists(installPath() + QStringLiteral("/app.bin")), installs);
    QCOMPARE(modeBits(updates), installs ? 0700 : 0777);
}

// Journals that cannot be used (garbled, or naming a path outside) are moved
// aside once, the newest few kept, and hold back neither the installation nor
// the clean-up of a committed one.
void TestInstallation::unusableJournalsAreMovedAsideOnce()
{
    const QString updates = installPath() + QStringLiteral("/UPDATES/");
    for (int i = 1; i <= 5; ++i) {
        const QString stamp = QStringLiteral("179670000000%1").arg(i);
        QVERIFY(writeFile(updates + stamp + QStringLiteral(".journal"),
                          i % 2 ? "{\"form" : journalJson(QStringLiteral("/etc/passwd"), false, QString(), stamp)));
    }
    QVERIFY(writeFile(updates + QStringLiteral("1796700000009.committed"),
                      journalJson(QStringLiteral("a.txt"), true, QString(), QStringLiteral("1796700000009"))));
    QVERIFY(writeFile(installPath() + QStringLiteral("/a.txt.1796700000009.old"), "old a"));
    const QStringList rejected = {QStringLiteral("1796700000003.journal.rejected"),
                                  QStringLiteral("1796700000004.journal.rejected"),
                                  QStringLiteral("1796700000005.journal.rejected")};
    for (int round = 0; round < 2; ++round) {
        CDefaultLibrary library;
        QCOMPARE(library.UpdateFromData({{"data", signedPackage({{QStringLiteral("app.bin"), "new"}}).toBase64()}}, {}),
                 ResultTexts::fileUpdated().serialize());
        QCOMPARE(updatesEntries(installPath()), rejected);
        QVERIFY(!QFile::exists(installPath() + QStringLiteral("/a.txt.1796700000009.old")));
        QVERIFY(QFile::exists(QStringLiteral("/etc/passwd")));
    }
}

QTEST_GUILESS_MAIN(TestInstallation)
#include "tst_installation.moc"
