// Packages that do not fit are refused before anything is unpacked: too many
// entries, too many bytes, not enough room on a real small file system
// (entry sizes rounded up to its blocks), names with a backslash; and an
// entry that holds more than it claims is stopped at its claim.

#include <QtTest>

#include "InstallationTestTools.h"
#include "installation/PackageRoomCheck.h"
#include "module/ResultTexts.h"
#include "support/LogFile.h"
#include "support/SmallFilesystem.h"

using namespace InstallationTestTools;

namespace {

const Tree kOldFiles = {{QStringLiteral("app.bin"), "old app"}, {QStringLiteral("data/a.ini"), "old ini"}};

QByteArray manyFiles(int count, const QByteArray& content)
{
    ZipBuilder zip;
    for (int i = 0; i < count; ++i)
        zip.file(QStringLiteral("f/%1").arg(i), content);
    return zip.bytes();
}

} // namespace

class TestPackageRoom : public QObject
{
    Q_OBJECT

private slots:
    void limitsAtTheirBounds();
    void refusedBeforeUnpacking_data();
    void refusedBeforeUnpacking();
    void fittingPackageInstallsOnASmallFileSystem();
};

void TestPackageRoom::limitsAtTheirBounds()
{
    const qint64 gib = qint64(1) << 30;
    QVERIFY(PackageRoomCheck::limitsProblem(65536, gib).isEmpty());
    QVERIFY(PackageRoomCheck::limitsProblem(65537, 0).contains(QLatin1String("more than 65536 entries")));
    QVERIFY(PackageRoomCheck::limitsProblem(1, gib + 1).contains(QLatin1String("1073741825 bytes")));
}

void TestPackageRoom::refusedBeforeUnpacking_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<QString>("fileSystemSize"); // empty: the temporary folder's
    QTest::addColumn<bool>("whole"); // refused as a whole: not even "UPDATES" is made
    QTest::addColumn<QString>("logLine");

    QTest::newRow("65,537 entries") << manyFiles(65537, QByteArray()) << QString() << true << QString();
    QTest::newRow("claims 1 GiB + 1 byte")
        << withClaimedSize(ZipBuilder().file("a.txt", "a").file("big.bin", "b").bytes(), "big.bin", (1u << 30))
        << QString() << true << QString();
    // 8 MiB and the margin (10 %) do not fit into 8 MiB.
    QTest::newRow("8 MiB on 8 MiB") << ZipBuilder().file("zeros.bin", QByteArray(8 << 20, '\0')).bytes() << "8m"
                                    << true << QString();
    // 2,000 bytes, but a block of 4 KiB each: 8,000 KiB and the margin.
    QTest::newRow("2,000 one-byte files on 8 MiB") << manyFiles(2000, "x") << "8m" << true << QString();
    QTest::newRow("backslash") << ZipBuilder().file("a.txt", "a").file("dir\\b.txt", "b").bytes() << QString()
                               << false << QString();
    // Its claim fits; what it holds would fill the file system. The
    // unpacking stops at the claim, and the entry's checksum then fails:
    // only the log tells this from a file system that filled up.
    QTest::newRow("claims 1 KiB, holds 40 MiB")
        << withClaimedSize(ZipBuilder().file("a.txt", "a").file("bomb.bin", QByteArray(40 << 20, '\0')).bytes(),
                           "bomb.bin", 1024)
        << "8m" << false << "Package entry bomb.bin cannot be unpacked: checksum mismatch";
}

void TestPackageRoom::refusedBeforeUnpacking()
{
    QFETCH(QByteArray, archive);
    QFETCH(QString, fileSystemSize);
    QFETCH(bool, whole);
    QFETCH(QString, logLine);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString installDir = root.filePath(QStringLiteral("install"));
    QVERIFY(QDir().mkpath(installDir));
    QScopedPointer<SmallFilesystem> small;
    if (!fileSystemSize.isEmpty()) {
        small.reset(new SmallFilesystem(fileSystemSize, installDir));
        QVERIFY2(small->isMounted(), qPrintable(small->error()));
    }
    QVERIFY(writeTree(installDir, kOldFiles));
    const Tree before = readTree(installDir);
    const QByteArray package = VerificationSupport::signedPackage(archive);
    QVERIFY(!package.isEmpty());

    LogFile log;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(installDir);
    QByteArray result;
    {
        CDefaultLibrary library;
        result = library.UpdateFromData({{"data", package.toBase64()}}, {});
    }
    QDir::setCurrent(previous);

    QCOMPARE(result, ResultTexts::fileSystemError().serialize());
    if (!logLine.isEmpty())
        QVERIFY2(log.hasNewLine(QStringLiteral("WARN  - CDefaultLibrary::replaceFileByUpdateType :: ") + logLine),
                 qPrintable(log.newText().right(3000)));
    QCOMPARE(readTree(installDir), before);
    if (whole) {
        QVERIFY(!QFileInfo::exists(installDir + QStringLiteral("/UPDATES")));
        QVERIFY(log.hasNewLine(QStringLiteral("No permissions to unzip to ") + installDir + QStringLiteral("/UPDATES/")));
    } else {
        QCOMPARE(updatesEntries(installDir), QStringList());
    }
}

void TestPackageRoom::fittingPackageInstallsOnASmallFileSystem()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString installDir = root.filePath(QStringLiteral("install"));
    QVERIFY(QDir().mkpath(installDir));
    SmallFilesystem small(QStringLiteral("8m"), installDir);
    QVERIFY2(small.isMounted(), qPrintable(small.error()));
    QVERIFY(writeTree(installDir, kOldFiles));
    const Tree before = readTree(installDir);
    const Tree files = {{QStringLiteral("app.bin"), "new app"},
                        {QStringLiteral("lib/big.bin"), incompressibleBytes(6 << 20, 5)}};
    const QString previous = QDir::currentPath();
    QDir::setCurrent(installDir);
    QByteArray result;
    {
        CDefaultLibrary library;
        result = library.UpdateFromData({{"data", signedPackage(files).toBase64()}}, {});
    }
    QDir::setCurrent(previous);
    QCOMPARE(result, ResultTexts::fileUpdated().serialize());
    QCOMPARE(readTree(installDir), installed(before, files));
}

QTEST_GUILESS_MAIN(TestPackageRoom)
#include "tst_package_room.moc"
