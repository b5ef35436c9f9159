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

// Bytes that differ from their neighbours, so that bytes hashed out of
// order change the digest.
QByteArray pattern(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(i * 131 + i / 256);
    return bytes;
}

const QByteArray& package()
{
    static const QByteArray signedData = signedPackage(pattern(3001));
    return signedData;
}

} // namespace

class TestPackageDigest : public QObject
{
    Q_OBJECT

private slots:
    void piecesGiveTheDigestsOfTheWhole_data();
    void piecesGiveTheDigestsOfTheWhole();
    void readerTakesTheDataFromTheDigest_data();
    void readerTakesTheDataFromTheDigest();

private:
    QTemporaryDir m_dir;
};

void TestPackageDigest::piecesGiveTheDigestsOfTheWhole_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QVector<int>>("pieces"); // repeated until all is fed
    const QByteArray& signedData = package();
    const int size = signedData.size();
    QCOMPARE(size, 3001 + 273);
    for (const int piece : {1, 7, 272, 273, 274, size})
        QTest::addRow("%d bytes", piece) << signedData << QVector<int>{piece};
    QTest::newRow("split inside the trailer") << signedData << QVector<int>{size - 200, 150, 1, 49};
    QTest::newRow("split just before the trailer") << signedData << QVector<int>{size - 273, 273};
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
    for (int fed = 0, piece = 0; fed < bytes.size(); ++piece) {
        const int length = qMin(pieces.at(piece % pieces.size()), bytes.size() - fed);
        QVERIFY(digest.add(bytes.constData() + fed, length));
        fed += length;
        // Taking a digest does not end the feeding.
        QCOMPARE(digest.sha256(), sha256(bytes.left(fed)));
    }
    QCOMPARE(digest.size(), qint64(bytes.size()));
    // Wherever the trailer says the data ends, and nowhere further back.
    const int held = PackageDigest::MaxTrailerLength;
    for (int length = qMax(0, bytes.size() - held); length <= bytes.size(); ++length)
        QCOMPARE(digest.sha256OfFirst(length), sha256(bytes.left(length)));
    QVERIFY(bytes.size() <= held || digest.sha256OfFirst(bytes.size() - held - 1).isEmpty());
    QVERIFY(digest.sha256OfFirst(bytes.size() + 1).isEmpty());
}

void TestPackageDigest::readerTakesTheDataFromTheDigest_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("verifies");
    const QByteArray& signedData = package();
    const QByteArray data = signedData.left(3001);
    const QByteArray signature = signedData.mid(3001 + 8, 256);
    QByteArray changed = signedData;
    changed[1000] = char(changed[1000] ^ 0x10);
    QTest::newRow("signed") << signedData << true;
    QTest::newRow("data changed") << changed << false;
    QTest::newRow("no trailer") << data << false;
    QTest::newRow("last byte cut off") << signedData.chopped(1) << false;
    QTest::newRow("iExtraDataSize 265") << data + trailer(256, signature, 265) << false;
    QTest::newRow("sizes disagree") << data + trailer(255, signature, 264) << false;
    QTest::newRow("empty signature") << data + trailer(QByteArray()) << false;
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
    digest.add(file);
    ModuleReader digestReader(path, digest);

    QCOMPARE(log.take(), dataLines);
    QCOMPARE(digestReader.isRead(), dataReader.isRead());
    QCOMPARE(digestReader.signature(), dataReader.signature());
    QVERIFY(digestReader.moduleData().isEmpty());
    QCOMPARE(dataReader.verify(true), verifies);
    QCOMPARE(digestReader.verify(true), verifies);
    // A digest of other bytes than the file's is not taken for it.
    digest.add("x", 1);
    QVERIFY(!ModuleReader(path, digest).isRead());
}

QTEST_GUILESS_MAIN(TestPackageDigest)
#include "tst_package_digest.moc"
