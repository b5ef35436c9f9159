// ModuleReader on files built byte by byte: both forms, the padding search,
// and size fields that point outside the file.

#include <QtTest>

#include <QTemporaryDir>

#include "support/FileTools.h"
#include "support/VerificationSupport.h"
#include "verification/ModuleReader.h"

using namespace FileTools;
using namespace VerificationSupport;

namespace {

QByteArray pattern(int length, char seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(seed + i * 7);
    return bytes;
}

const QString ReadError = "ERROR ModuleReader::readModule :: Error while reading extra data from file: ";
const QString Wrong = "INFO ModuleReader::readModule :: wrong  iSignatureDataSize";

} // namespace

class TestModuleReader : public QObject
{
    Q_OBJECT

private slots:
    void plainForm_data();
    void plainForm();
    void octawordPadding_data();
    void octawordPadding();
    void authenticodeForm_data();
    void authenticodeForm();

private:
    QString write(const QByteArray& data);
    QTemporaryDir m_dir;
    int m_count = 0;
};

QString TestModuleReader::write(const QByteArray& data)
{
    const QString path = m_dir.filePath(QString::number(++m_count));
    if (!writeFile(path, data))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestModuleReader::plainForm_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<int>("moduleSize"); // -1: unread
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("lastLine");

    const QByteArray data = pattern(1000, 'a');
    const QByteArray sig = pattern(256, 's');
    const QString done = "INFO ModuleReader::readModule :: iModuleDataSize: %1 sizeof(iModuleDataSize): 8";
    QTest::newRow("256-byte signature") << data + trailer(sig) << 1000 << sig << done.arg(1000);
    QTest::newRow("any marker value") << data + trailer(256, sig, 264, '\0') << 1000 << sig << done.arg(1000);
    QTest::newRow("empty signature") << data + trailer(QByteArray()) << 1000 << QByteArray() << done.arg(1000);
    QTest::newRow("empty module data") << trailer(sig) << 0 << sig << done.arg(0);
    QTest::newRow("extra data 265") << data + trailer(257, pattern(257, 's'), 265) << -1 << QByteArray()
                                    << Wrong + "265";
    QTest::newRow("extra data negative") << data + trailer(256, sig, -1) << -1 << QByteArray() << Wrong + "-1";
    QTest::newRow("sizes disagree") << data + trailer(255, sig, 264) << -1 << QByteArray() << Wrong + "264";
    // S + 8 would overflow.
    QTest::newRow("signature size maximum")
        << data + trailer(Q_INT64_C(0x7FFFFFFFFFFFFFFF), sig, 264) << -1 << QByteArray() << Wrong + "264";
    // The iSignatureSize field would lie before the start of the file.
    QTest::newRow("field before the file") << trailer(100, pattern(100, 's'), 264) << -1 << QByteArray() << ReadError;
    for (int length : { 0, 8, 16 })
        QTest::addRow("%d bytes", length) << QByteArray(length, '\xFF') << -1 << QByteArray() << ReadError;
}

void TestModuleReader::plainForm()
{
    QFETCH(QByteArray, file);
    QFETCH(int, moduleSize);
    QFETCH(QByteArray, signature);
    QFETCH(QString, lastLine);

    ModuleToolsCapture log;
    const QString path = write(file);
    ModuleReader reader(path, false);
    QCOMPARE(reader.isRead(), moduleSize >= 0);
    QCOMPARE(reader.moduleData(), file.left(qMax(moduleSize, 0)));
    QCOMPARE(reader.signature(), signature);

    const QStringList lines = log.take();
    QCOMPARE(lines.first(), QStringLiteral("INFO ModuleReader::readModule :: iFileSize%1").arg(file.size()));
    QCOMPARE(lines.last(), lastLine == ReadError ? ReadError + path : lastLine);
    if (moduleSize >= 0) {
        QCOMPARE(lines.mid(1, 2),
            QStringList({ QStringLiteral("INFO ModuleReader::readModule :: iFileSize: %1 iExtraDataSize: %2 "
                                         "sizeof(iExtraDataSize): 8")
                              .arg(file.size())
                              .arg(signature.size() + 8),
                QStringLiteral("INFO ModuleReader::readModule :: iSignatureSize: %1 sizeof(iSignatureSize): 8")
                    .arg(signature.size()) }));
    }
}

void TestModuleReader::octawordPadding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("padding");
    QTest::newRow("marker last") << QByteArray::fromHex("00000000000000FF") << 0;
    QTest::newRow("marker at 1") << QByteArray::fromHex("00FF000000000000") << 6;
    QTest::newRow("two markers") << QByteArray::fromHex("FFFF123456789ABC") << 7;
    QTest::newRow("no marker") << QByteArray::fromHex("0001020304050607") << -1;
}

void TestModuleReader::octawordPadding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, padding);
    ModuleToolsCapture log;
    QCOMPARE(ModuleReader::getOctawordPaddingSize(bytes), padding);
    QCOMPARE(
        log.take(), QStringList(padding >= 0 ? QStringLiteral("NOTICE ModuleReader::getOctawordPaddingSize :: "
                                                              "Octaword padding size: %1")
                                                   .arg(padding)
                                             : QStringLiteral("ERROR ModuleReader::getOctawordPaddingSize :: "
                                                              "There was no end of signature marker in the file!")));
}

void TestModuleReader::authenticodeForm_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QString>("expectedLine");

    const QByteArray body = pattern(500, 'm') + trailer(pattern(256, 's'));
    const QByteArray table = pattern(40, 'c');
    const quint32 headers = 0x200;
    const QString after = QStringLiteral("INFO ModuleReader::readModule :: signEndPos after octaword padding: %1")
                              .arg(headers + body.size() - 1);

    QTest::newRow("padding 0") << peImage(headers, body, QByteArray(), table) << true << after;
    QTest::newRow("padding 6") << peImage(headers, body, QByteArray(6, '\0'), table) << true << after;
    // Padding bytes may hold 0xFF too: the first 0xFF is the marker.
    QTest::newRow("padding 7 of 0xFF") << peImage(headers, body, QByteArray(7, '\xFF'), table) << true << after;
    QTest::newRow("no certificate table") << peImage(headers, body, QByteArray(3, '\0'), QByteArray()) << true
                                          << "NOTICE PEHeaderData::loadData :: Authenticode signature position: 0";
    // A plain package: module data from 0, trailer at the end of the file.
    QTest::newRow("not a PE image") << body << true << "NOTICE PEHeaderData::loadData :: Invalid PE file header";
    QTest::newRow("no marker") << peImage(headers, pattern(500, 'm') + trailer(256, pattern(256, 's'), 264, '\0'),
                                      QByteArray(), table)
                               << false << Wrong + "1";

    QByteArray lfanew = peImage(headers, body, QByteArray(), table);
    put32(lfanew, 0x3C, 0xFFFFFFF0u);
    QTest::newRow("e_lfanew past the end")
        << lfanew << false << "NOTICE PEHeaderData::loadData :: Invalid PE file header";
    QTest::newRow("only MZ") << QByteArray("MZ") << false << ReadError;
    QByteArray tableOutside = peImage(headers, body, QByteArray(), table);
    put32(tableOutside, 0x40 + 0x98, 0xFFFFFFF0u);
    QTest::newRow("table past the end") << tableOutside << false << ReadError;
    QByteArray headersOutside = peImage(headers, body, QByteArray(), table);
    put32(headersOutside, 0x40 + 0x54, 0x7FFFFFFFu);
    QTest::newRow("headers past the end") << headersOutside << false << ReadError;
    QTest::newRow("signature reaches into the headers")
        << peImage(headers, trailer(100, pattern(100, 's'), 264), QByteArray(), table) << false << ReadError;
    QTest::newRow("empty file") << QByteArray() << false << "ERROR PEHeaderData::loadData :: Couldn't map file";
}

void TestModuleReader::authenticodeForm()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, read);
    QFETCH(QString, expectedLine);

    ModuleToolsCapture log;
    const QString path = write(file);
    ModuleReader reader(path, true);
    QCOMPARE(reader.isRead(), read);
    QCOMPARE(reader.moduleData(), read ? pattern(500, 'm') : QByteArray());
    QCOMPARE(reader.signature(), read ? pattern(256, 's') : QByteArray());
    const QStringList lines = log.take();
    QVERIFY2(lines.contains(expectedLine == ReadError ? ReadError + path : expectedLine),
        qPrintable(lines.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestModuleReader)
#include "tst_module_reader.moc"
