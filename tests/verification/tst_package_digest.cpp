// PackageDigest fed in pieces of many sizes against SHA-256 computed in one
// go, and the reader that takes the signed data's digest from it against the
// reader that reads the data, on sound and on damaged packages.

#include <QtTest>

#include <QCryptographicHash>
#include <QTemporaryDir>

#include "support/FileTools.h"
#include "support/VerificationSupport.h"
#include "verification/ModuleReader.h"
#include "verification/PackageDigest.h"

using namespace VerificationSupport;

namespace {

QByteArray sha256(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

QByteArray pattern(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(i * 131 + i / 256);
    return bytes;
}

PackageDigest& feed(PackageDigest& digest, const QByteArray& bytes)
{
    digest.reset();
    digest.add(bytes);
    return digest;
}

} // namespace

class TestPackageDigest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void piecesGiveTheDigestsOfTheWhole_data();
    void piecesGiveTheDigestsOfTheWhole();
    void readerTakesTheDataFromTheDigest_data();
    void readerTakesTheDataFromTheDigest();

private:
    QTemporaryDir m_dir;
    QByteArray m_package;
};

void TestPackageDigest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_package = signedPackage(pattern(3001));
    QCOMPARE(m_package.size(), 3001 + 273);
}

void TestPackageDigest::piecesGiveTheDigestsOfTheWhole_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVector<int>>("pieces"); // repeated until all is fed

    const int size = m_package.size();
    QTest::newRow("1 byte") << m_package << QVector<int>{1};
    QTest::newRow("7 bytes") << m_package << QVector<int>{7};
    QTest::newRow("272 bytes") << m_package << QVector<int>{272};
    QTest::newRow("273 bytes, the longest trailer") << m_package << QVector<int>{273};
    QTest::newRow("274 bytes") << m_package << QVector<int>{274};
    QTest::newRow("whole") << m_package << QVector<int>{size};
    QTest::newRow("split inside the trailer") << m_package << QVector<int>{size - 200, 150, 1, 49};
    QTest::newRow("split just before the trailer") << m_package << QVector<int>{size - 273, 273};
    QTest::newRow("shorter than a trailer") << pattern(100) << QVector<int>{30};
    QTest::newRow("nothing") << QByteArray() << QVector<int>{1};
}

void TestPackageDigest::piecesGiveTheDigestsOfTheWhole()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QVector<int>, pieces);

    PackageDigest digest;
    digest.add(QByteArray("left over from before"));
    digest.reset();
    int fed = 0;
    for (int piece = 0; fed < bytes.size(); ++piece) {
        const int length = qMin(pieces.at(piece % pieces.size()), bytes.size() - fed);
        QVERIFY(digest.add(bytes.constData() + fed, length));
        fed += length;
        // Taking a digest does not end the feeding.
        QCOMPARE(digest.sha256(), sha256(bytes.left(fed)));
    }
    QCOMPARE(digest.size(), qint64(bytes.size()));
    QCOMPARE(digest.sha256(), sha256(bytes));
    // Wherever the trailer says the data ends.
    const int held = PackageDigest::MaxTrailerLength;
    for (int length = qMax(0, bytes.size() - held); length <= bytes.size(); ++length)
        QCOMPARE(digest.sha256OfFirst(length), sha256(bytes.left(length)));
    if (bytes.size() > held)
        QVERIFY(digest.sha256OfFirst(bytes.size() - held - 1).isEmpty());
    QVERIFY(digest.sha256OfFirst(bytes.size() + 1).isEmpty());
}

void TestPackageDigest::readerTakesTheDataFromTheDigest_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("verifies");

    const QByteArray data = m_package.left(3001);
    const QByteArray signature = m_package.mid(3001 + 8, 256);
    QByteArray changed = m_package;
    changed[1000] = char(changed[1000] ^ 0x10);
    QTest::newRow("signed") << m_package << true;
    QTest::newRow("data changed") << changed << false;
    QTest::newRow("no trailer") << data << false;
    QTest::newRow("last byte cut off") << m_package.chopped(1) << false;
    QTest::newRow("iExtraDataSize 265") << data + trailer(256, signature, 265) << false;
    QTest::newRow("sizes disagree") << data + trailer(255, signature, 264) << false;
    QTest::newRow("empty signature") << data + trailer(QByteArray()) << false;
    QTest::newRow("shortest signature") << data + trailer(QByteArray(1, 's')) << false;
    QTest::newRow("trailer alone") << trailer(signature) << false;
    QTest::newRow("16 bytes") << QByteArray(16, '\0') << false;
    QTest::newRow("empty file") << QByteArray() << false;
}

void TestPackageDigest::readerTakesTheDataFromTheDigest()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, verifies);

    const QString path = m_dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(FileTools::writeFile(path, file));
    ModuleToolsCapture log;
    ModuleReader dataReader(path, false);
    const QStringList dataLines = log.take();
    PackageDigest digest;
    ModuleReader digestReader(path, feed(digest, file));

    QCOMPARE(log.take(), dataLines);
    QCOMPARE(digestReader.isRead(), dataReader.isRead());
    QCOMPARE(digestReader.signature(), dataReader.signature());
    QVERIFY(digestReader.moduleData().isEmpty());
    QCOMPARE(dataReader.verify(true), verifies);
    QCOMPARE(digestReader.verify(true), verifies);
    QVERIFY(!digestReader.verify(false));

    // A digest of other bytes than the file's is not taken for it.
    digest.add("x", 1);
    ModuleReader otherDigest(path, digest);
    QVERIFY(!otherDigest.isRead());
}

QTEST_GUILESS_MAIN(TestPackageDigest)
#include "tst_package_digest.moc"
