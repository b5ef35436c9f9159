// ModuleReader on files built byte by byte: the plain form, the Authenticode
// form, the padding search, and files whose sizes point outside themselves.

#include <QtTest>

#include <QTemporaryDir>
#include <QtEndian>

#include <algorithm>

#include "support/VerificationSupport.h"
#include "verification/ModuleReader.h"

using namespace VerificationSupport;

namespace {

QByteArray pattern(int length, char seed)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char(seed + i * 7);
    return bytes;
}

const QString ReadError = QStringLiteral("ERROR ModuleReader::readModule :: Error while reading extra data from file: ");

} // namespace

class TestModuleReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void plainForm_data();
    void plainForm();
    void missingFileStaysUnread();
    void shortFilesStayUnread_data();
    void shortFilesStayUnread();
    void octawordPadding_data();
    void octawordPadding();
    void authenticodeForm_data();
    void authenticodeForm();
    void verifyNeedsReadReaderAndNewType();

private:
    QString write(const QByteArray& data);
    QTemporaryDir m_dir;
    int m_count = 0;
};

void TestModuleReader::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

QString TestModuleReader::write(const QByteArray& data)
{
    const QString path = m_dir.filePath(QStringLiteral("file%1.bin").arg(++m_count));
    if (!writeFile(path, data))
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestModuleReader::plainForm_data()
{
    QTest::addColumn<QByteArray>("moduleData");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("lastLine");

    const QByteArray data = pattern(1000, 'a');
    const QByteArray sig256 = pattern(256, 's');
    const QString wrong = QStringLiteral("INFO ModuleReader::readModule :: wrong  iSignatureDataSize");
    const QString moduleLine = QStringLiteral("INFO ModuleReader::readModule :: iModuleDataSize: %1 sizeof(iModuleDataSize): 8");

    QTest::newRow("256-byte signature") << data << data + trailer(sig256) << true << sig256 << moduleLine.arg(1000);
    QTest::newRow("any marker value") << data << data + trailer(256, sig256, 264, '\x00') << true << sig256
                                      << moduleLine.arg(1000);
    QTest::newRow("short signature") << data << data + trailer(pattern(3, 'x')) << true << pattern(3, 'x')
                                     << moduleLine.arg(1000);
    QTest::newRow("empty signature") << data << data + trailer(QByteArray()) << true << QByteArray()
                                     << moduleLine.arg(1000);
    QTest::newRow("empty module data") << QByteArray() << trailer(sig256) << true << sig256 << moduleLine.arg(0);
    QTest::newRow("extra data 265") << data << data + trailer(257, pattern(257, 's'), 265) << false << QByteArray()
                                    << wrong + QStringLiteral("265");
    QTest::newRow("extra data negative") << data << data + trailer(256, sig256, -1) << false << QByteArray()
                                         << wrong + QStringLiteral("-1");
    QTest::newRow("extra data huge") << data << data + trailer(256, sig256, Q_INT64_C(0x7FFFFFFFFFFFFFFF)) << false
                                     << QByteArray() << wrong + QStringLiteral("9223372036854775807");
    QTest::newRow("sizes disagree") << data << data + trailer(255, sig256, 264) << false << QByteArray()
                                    << wrong + QStringLiteral("264");
    QTest::newRow("signature size huge") << data << data + trailer(Q_INT64_C(0x7FFFFFFFFFFFFFFF), sig256, 264)
                                         << false << QByteArray() << wrong + QStringLiteral("264");
    QTest::newRow("signature size minimum") << data << data + trailer(Q_INT64_C(-0x7FFFFFFFFFFFFFFF) - 1, sig256, 264)
                                            << false << QByteArray() << wrong + QStringLiteral("264");
    // iExtraDataSize 264 in a file with room for only 100 signature bytes:
    // the iSignatureSize field would lie before the start of the file.
    QTest::newRow("size field before the file") << QByteArray() << trailer(100, pattern(100, 's'), 264) << false
                                                << QByteArray() << ReadError;
}

void TestModuleReader::plainForm()
{
    QFETCH(QByteArray, moduleData);
    QFETCH(QByteArray, file);
    QFETCH(bool, read);
    QFETCH(QByteArray, signature);
    QFETCH(QString, lastLine);

    ModuleToolsCapture log;
    const QString path = write(file);
    ModuleReader reader(path, false);
    QCOMPARE(reader.isRead(), read);
    QCOMPARE(reader.moduleData(), read ? moduleData : QByteArray());
    QCOMPARE(reader.signature(), signature);

    const QStringList lines = log.take();
    QVERIFY(!lines.isEmpty());
    QCOMPARE(lines.first(), QStringLiteral("INFO ModuleReader::readModule :: iFileSize%1").arg(file.size()));
    if (lastLine == ReadError)
        QCOMPARE(lines.last(), ReadError + path);
    else
        QCOMPARE(lines.last(), lastLine);
    if (read) {
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines.at(1), QStringLiteral("INFO ModuleReader::readModule :: iFileSize: %1 iExtraDataSize: %2 "
                                             "sizeof(iExtraDataSize): 8")
                                  .arg(file.size())
                                  .arg(signature.size() + 8));
        QCOMPARE(lines.at(2), QStringLiteral("INFO ModuleReader::readModule :: iSignatureSize: %1 sizeof(iSignatureSize): 8")
                                  .arg(signature.size()));
    }
}

void TestModuleReader::missingFileStaysUnread()
{
    ModuleToolsCapture log;
    const QString path = m_dir.filePath(QStringLiteral("does-not-exist"));
    ModuleReader reader(path, false);
    QVERIFY(!reader.isRead());
    QCOMPARE(log.take(), QStringList{ReadError + path});
}

void TestModuleReader::shortFilesStayUnread_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("withAuthenticode");
    for (int length : {0, 1, 8, 9, 16}) {
        // All 0xFF: in the Authenticode form every window holds a marker.
        QTest::addRow("plain, %d bytes", length) << QByteArray(length, '\xFF') << false;
        QTest::addRow("authenticode, %d bytes", length) << QByteArray(length, '\xFF') << true;
    }
    // Exactly a trailer of an empty signature, but the marker missing.
    QTest::newRow("plain, 16-byte trailer") << trailer(QByteArray()).left(16) << false;
}

void TestModuleReader::shortFilesStayUnread()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, withAuthenticode);
    ModuleToolsCapture log;
    const QString path = write(file);
    ModuleReader reader(path, withAuthenticode);
    QVERIFY(!reader.isRead());
    QVERIFY(reader.moduleData().isEmpty());
    QVERIFY(reader.signature().isEmpty());
    QVERIFY(log.has(ReadError + path));
}

void TestModuleReader::octawordPadding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("padding");
    QTest::newRow("marker last") << QByteArray::fromHex("00000000000000FF") << 0;
    QTest::newRow("marker at 1") << QByteArray::fromHex("00FF000000000000") << 6;
    QTest::newRow("two markers") << QByteArray::fromHex("FFFF123456789ABC") << 7;
    QTest::newRow("marker at 3") << QByteArray::fromHex("010000FF00FFFFFF") << 4;
    QTest::newRow("no marker") << QByteArray::fromHex("0001020304050607") << -1;
}

void TestModuleReader::octawordPadding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, padding);
    ModuleToolsCapture log;
    QCOMPARE(ModuleReader::getOctawordPaddingSize(bytes), padding);
    if (padding >= 0)
        QCOMPARE(log.take(), QStringList{QStringLiteral("NOTICE ModuleReader::getOctawordPaddingSize :: "
                                                        "Octaword padding size: %1")
                                             .arg(padding)});
    else
        QCOMPARE(log.take(), QStringList{QStringLiteral("ERROR ModuleReader::getOctawordPaddingSize :: "
                                                        "There was no end of signature marker in the file!")});
}

void TestModuleReader::authenticodeForm_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QByteArray>("moduleData");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QStringList>("expectedLines");

    const QByteArray data = pattern(500, 'm');
    const QByteArray sig = pattern(256, 's');
    const QByteArray body = data + trailer(sig);
    const QByteArray table = pattern(40, 'c');
    const quint32 headers = 0x200;
    const auto notice = [](const QString& text) { return QStringLiteral("NOTICE PEHeaderData::loadData :: ") + text; };
    const auto info = [](const QString& text) { return QStringLiteral("INFO ModuleReader::readModule :: ") + text; };
    const qint64 marker = headers + body.size() - 1;

    QTest::newRow("padding 0") << peImage(headers, body, QByteArray(), table) << true << data << sig
                               << QStringList{notice(QStringLiteral("Authenticode signature position: %1").arg(marker + 1)),
                                              notice(QStringLiteral("PEHeader size: 512")),
                                              info(QStringLiteral("signEndPos before octaword padding: %1").arg(marker + 1)),
                                              info(QStringLiteral("signEndPos after octaword padding: %1").arg(marker))};
    QTest::newRow("padding 6") << peImage(headers, body, QByteArray(6, '\0'), table) << true << data << sig
                               << QStringList{info(QStringLiteral("signEndPos before octaword padding: %1").arg(marker + 7)),
                                              info(QStringLiteral("signEndPos after octaword padding: %1").arg(marker))};
    // Padding bytes may hold 0xFF too: the first 0xFF in the window is the
    // marker.
    QTest::newRow("padding 7 of 0xFF") << peImage(headers, body, QByteArray(7, '\xFF'), table) << true << data << sig
                                       << QStringList{info(QStringLiteral("signEndPos after octaword padding: %1").arg(marker))};
    QTest::newRow("no certificate table") << peImage(headers, body, QByteArray(3, '\0'), QByteArray()) << true << data
                                          << sig
                                          << QStringList{notice(QStringLiteral("Authenticode signature position: 0")),
                                                         info(QStringLiteral("signEndPos after octaword padding: %1")
                                                                  .arg(marker))};
    // A plain package read in this form: no PE header, the module data starts
    // at 0 and the trailer is found at the end of the file.
    QTest::newRow("not a PE image") << body << true << data << sig
                                    << QStringList{notice(QStringLiteral("Invalid PE file header")),
                                                   notice(QStringLiteral("PEHeader size: 0"))};
    QTest::newRow("no marker before the table")
        << peImage(headers, data + trailer(256, sig, 264, '\x00'), QByteArray(), table) << false << QByteArray()
        << QByteArray()
        << QStringList{QStringLiteral("ERROR ModuleReader::getOctawordPaddingSize :: There was no end of signature "
                                      "marker in the file!"),
                       info(QStringLiteral("wrong  iSignatureDataSize"))};

    // Header fields that point outside the file.
    QByteArray shortLfanew = body;
    shortLfanew[0] = 'M';
    shortLfanew[1] = 'Z';
    put32(shortLfanew, 0x3C, quint32(body.size() - 0x9C));
    // Counted as no PE image: the trailer at the end of the file is used.
    QTest::newRow("e_lfanew too close to the end") << shortLfanew << true << shortLfanew.left(data.size()) << sig
                                                   << QStringList{notice(QStringLiteral("Invalid PE file header"))};
    QByteArray hugeLfanew = peImage(headers, body, QByteArray(), table);
    put32(hugeLfanew, 0x3C, 0xFFFFFFF0u);
    QTest::newRow("e_lfanew huge") << hugeLfanew << false << QByteArray() << QByteArray()
                                   << QStringList{notice(QStringLiteral("Invalid PE file header"))};
    QTest::newRow("only MZ") << QByteArray("MZ") << false << QByteArray() << QByteArray()
                             << QStringList{notice(QStringLiteral("Invalid PE file header"))};
    QByteArray tableOutside = peImage(headers, body, QByteArray(), table);
    put32(tableOutside, 0x40 + 0x98, 0xFFFFFFF0u);
    QTest::newRow("certificate table past the end") << tableOutside << false << QByteArray() << QByteArray()
                                                    << QStringList{ReadError};
    QByteArray headersOutside = peImage(headers, body, QByteArray(), table);
    put32(headersOutside, 0x40 + 0x54, 0x7FFFFFFFu);
    QTest::newRow("headers longer than the file") << headersOutside << false << QByteArray() << QByteArray()
                                                  << QStringList{ReadError};
    // The signature field may not reach back into the PE headers.
    QTest::newRow("trailer reaches into the headers")
        << peImage(headers, trailer(100, pattern(100, 's'), 264), QByteArray(), table) << false << QByteArray()
        << QByteArray() << QStringList{ReadError};
    QTest::newRow("empty file") << QByteArray() << false << QByteArray() << QByteArray()
                                << QStringList{QStringLiteral("ERROR PEHeaderData::loadData :: Couldn't map file"),
                                               ReadError};
}

void TestModuleReader::authenticodeForm()
{
    QFETCH(QByteArray, file);
    QFETCH(bool, read);
    QFETCH(QByteArray, moduleData);
    QFETCH(QByteArray, signature);
    QFETCH(QStringList, expectedLines);

    ModuleToolsCapture log;
    const QString path = write(file);
    ModuleReader reader(path, true);
    QCOMPARE(reader.isRead(), read);
    QCOMPARE(reader.moduleData(), moduleData);
    QCOMPARE(reader.signature(), signature);

    const QStringList lines = log.take();
    QVERIFY(lines.contains(QStringLiteral("NOTICE PEHeaderData::loadData :: Checking position of authenticode "
                                          "signature in file: ") +
                           path));
    for (const QString& expected : expectedLines) {
        const QString line = expected == ReadError ? ReadError + path : expected;
        const bool found = expected.endsWith(QLatin1String("iSignatureDataSize"))
                               ? std::any_of(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(line); })
                               : lines.contains(line);
        QVERIFY2(found, qPrintable(line + QStringLiteral("\n  in:\n") + lines.join(QLatin1Char('\n'))));
    }
}

void TestModuleReader::verifyNeedsReadReaderAndNewType()
{
    // Signed with the test key, which these tests build into the module.
    const QByteArray data = pattern(300, 'v');
    const QByteArray signature = sign(keyPath(QStringLiteral("test-private.pem")), data);
    QCOMPARE(signature.size(), 256);
    ModuleReader good(write(data + trailer(signature)), false);
    QVERIFY(good.isRead());
    QVERIFY(good.verify(true));
    QVERIFY(!good.verify(false));

    ModuleReader unread(write(data + trailer(256, signature, 265)), false);
    QVERIFY(!unread.isRead());
    QVERIFY(!unread.verify(true));
}

QTEST_GUILESS_MAIN(TestModuleReader)
#include "tst_module_reader.moc"
