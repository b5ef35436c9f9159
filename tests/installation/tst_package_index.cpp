// The package's entry list and the windowed reader under it, on their own:
// reads at and across the windows' edges and going to and fro, the entries
// of an archive with a trailer after it and of one of 65,535 entries, and
// archives cut short.

#include <QtTest>

#include <QTemporaryDir>

#include "installation/PackageFileDevice.h"
#include "installation/PackageIndex.h"
#include "installation/PackageRoomCheck.h"
#include "support/FileTools.h"
#include "support/ZipBuilder.h"

using Reads = QList<QPair<qint64, qint64>>;

class TestPackageIndex : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void deviceReadsWhatTheFileHolds_data();
    void deviceReadsWhatTheFileHolds();
    void indexListsTheEntries();
    void entryListOf65535IsReadToItsEnd();
    void archivesCutShortAreRefused_data();
    void archivesCutShortAreRefused();

private:
    QString write(const QString& name, const QByteArray& bytes);

    QTemporaryDir m_dir;
    QByteArray m_bytes;
};

void TestPackageIndex::initTestCase()
{
    m_bytes = incompressibleBytes(5 * PackageFileDevice::WindowSize + 123, 9);
}

QString TestPackageIndex::write(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(name);
    return FileTools::writeFile(path, bytes) ? path : QString();
}

// Each row: reads of (position, length), one after the other on one device.
void TestPackageIndex::deviceReadsWhatTheFileHolds_data()
{
    QTest::addColumn<Reads>("reads");
    const qint64 window = PackageFileDevice::WindowSize;
    const qint64 size = 5 * window + 123;
    QTest::newRow("the start") << Reads{{0, 10}};
    QTest::newRow("across a window's end") << Reads{{window - 3, 10}};
    QTest::newRow("more than a window") << Reads{{7, 2 * window + 5}};
    QTest::newRow("to and fro, as the zip reader goes")
        << Reads{{size - 22, 22}, {30, 46}, {size - 100, 60}, {4000, 3000}, {size - 22, 22}};
    QTest::newRow("three places in turn")
        << Reads{{0, 10}, {2 * window, 10}, {4 * window, 10}, {0, 10}, {2 * window + 5, 10}};
    QTest::newRow("past the end") << Reads{{size - 5, 50}, {size, 10}};
}

void TestPackageIndex::deviceReadsWhatTheFileHolds()
{
    QFETCH(Reads, reads);
    const QString path = write(QStringLiteral("bytes"), m_bytes);
    PackageFileDevice device(path);
    QVERIFY(device.open(QIODevice::ReadOnly));
    QCOMPARE(device.size(), qint64(m_bytes.size()));
    for (const auto& read : reads) {
        QVERIFY(device.seek(read.first));
        QCOMPARE(device.read(read.second), m_bytes.mid(int(read.first), int(read.second)));
    }
    QVERIFY(!PackageFileDevice(path).open(QIODevice::WriteOnly));
}

void TestPackageIndex::indexListsTheEntries()
{
    const QByteArray archive = ZipBuilder()
                                   .directory(QStringLiteral("lib"))
                                   .file(QStringLiteral("lib/a.so"), "aaaa")
                                   .symlink(QStringLiteral("lib/b.so"), QStringLiteral("a.so"))
                                   .file(QStringLiteral("dir\\win.txt"), "backslash")
                                   .bytes();
    // A trailer after the archive, as a signed package has.
    PackageIndex index(write(QStringLiteral("package"), archive + QByteArray(300, 'S')));
    QVERIFY2(index.read(100), qPrintable(index.errorString()));
    QCOMPARE(index.entries().size(), 4);
    QStringList names;
    for (const PackageIndex::Entry& entry : index.entries())
        names.append(entry.name + (entry.isDirectory ? "/d" : "") + (entry.isLink ? "/l" : ""));
    QCOMPARE(names, (QStringList{"lib//d", "lib/a.so", "lib/b.so/l", "dir\\win.txt"}));
    QCOMPARE(index.entries().at(1).uncompressedSize, quint64(4));
    QVERIFY(index.hasLinks() && !index.isTruncated());
    QByteArray target;
    QVERIFY(index.readLinkTarget(2, 100, &target));
    QCOMPARE(target, QByteArray("a.so"));

    // Stops reading the list after one entry more than it was asked for.
    PackageIndex cut(index.packagePath());
    QVERIFY(cut.read(2));
    QVERIFY(cut.isTruncated());
    QCOMPARE(cut.entries().size(), 3);
}

// Written without zip64, an archive of 65,535 entries carries the count
// 0xFFFF, which the zip library reads as "unknown"; ztx reads the list with
// the same rule.
void TestPackageIndex::entryListOf65535IsReadToItsEnd()
{
    const int entries = 65535;
    ZipBuilder zip;
    for (int i = 0; i < entries; ++i)
        zip.stored().file(QString::number(i), QByteArray());
    PackageIndex index(write(QStringLiteral("many.zip"), zip.bytes()));
    QVERIFY2(index.read(PackageRoomCheck::MaxEntries), qPrintable(index.errorString()));
    QCOMPARE(index.entries().size(), entries);
}

void TestPackageIndex::archivesCutShortAreRefused_data()
{
    QTest::addColumn<int>("kept"); // bytes of the archive kept, from its end when negative
    QTest::newRow("no end of the directory") << -10;
    QTest::newRow("in the middle of the directory") << -60;
    QTest::newRow("only the first entry's data") << 40;
    QTest::newRow("empty") << 0;
}

void TestPackageIndex::archivesCutShortAreRefused()
{
    QFETCH(int, kept);
    const QByteArray archive =
        ZipBuilder().stored().file(QStringLiteral("a.txt"), "aaaa").file(QStringLiteral("b.txt"), "bbbb").bytes();
    PackageIndex index(write(QStringLiteral("cut"), kept < 0 ? archive.left(archive.size() + kept) : archive.left(kept)));
    QVERIFY(!index.read(100));
    QVERIFY(!index.errorString().isEmpty());
}

QTEST_GUILESS_MAIN(TestPackageIndex)
#include "tst_package_index.moc"
