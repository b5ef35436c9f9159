// What the installing flows take from the host beyond the URL: the package
// in "data" in either Base64 alphabet, the expected "sha256", and the
// result 41 of each failure decided outside the installation. The built
// library is loaded with QLibrary and installs real signed packages into a
// real folder, from the request or from a real HTTPS server on 127.0.0.1.

#include <QtTest>

#include <QCryptographicHash>
#include <QLibrary>
#include <QTemporaryDir>

#include <updater/updater.h>

#include "controller/Base64Data.h"
#include "module/ResultTexts.h"
#include "support/FileTools.h"
#include "support/HttpsTestServer.h"
#include "support/LogFile.h"
#include "support/SmallFilesystem.h"
#include "support/TestPaths.h"
#include "support/TreeSnapshot.h"
#include "support/VerificationSupport.h"
#include "support/ZipBuilder.h"

namespace {

const QByteArray kInstalled = ResultTexts::fileUpdated().serialize();
const QByteArray kVerificationError = ResultTexts::verificationError().serialize();
const QByteArray kFileSystemError = ResultTexts::fileSystemError().serialize();

// A signed package with app.bin holding content; its length is no multiple
// of three, so that its Base64 form ends in padding.
QByteArray packageWith(const QByteArray& content)
{
    for (int extra = 0; extra < 3; ++extra) {
        const QByteArray package = VerificationSupport::signedPackage(
            ZipBuilder().file(QStringLiteral("app.bin"), content).file(QStringLiteral("pad"), QByteArray(extra, 'p')).bytes());
        if (package.size() % 3 != 0)
            return package;
    }
    return QByteArray();
}

QByteArray sha256Hex(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// Base64 broken into lines of 76 characters, as MIME tools write it.
QByteArray wrapped(const QByteArray& text)
{
    QByteArray lines;
    for (int at = 0; at < text.size(); at += 76)
        lines += text.mid(at, 76) + "\r\n";
    return lines;
}

// How the data was decoded when it was decoded whole, with Qt: strictly in
// the URL-safe alphabet, else strictly in the standard one (white space
// taken out first, a lone last character refused), else leniently URL-safe.
QPair<int, QByteArray> decodedWholeByQt(const QByteArray& text)
{
    QByteArray compact = text;
    compact.replace(' ', "").replace('\t', "").replace('\r', "").replace('\n', "");
    int length = compact.size();
    while (length > 0 && compact.at(length - 1) == '=')
        --length;
    if (length % 4 != 1) {
        for (const auto& [alphabet, options] : {qMakePair(int(Base64Data::UrlSafe), QByteArray::Base64UrlEncoding),
                                                 qMakePair(int(Base64Data::Standard), QByteArray::Base64Encoding)}) {
            const auto strict = QByteArray::fromBase64Encoding(compact, options | QByteArray::AbortOnBase64DecodingErrors);
            if (strict)
                return {alphabet, strict.decoded};
        }
    }
    return {int(Base64Data::NotBase64), QByteArray::fromBase64(text, QByteArray::Base64UrlEncoding)};
}

} // namespace

class TestUpdateData : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void decodesEitherAlphabet_data();
    void decodesEitherAlphabet();
    void decodesInPiecesAsQtDecodesWhole();
    void installsFromEitherAlphabet_data();
    void installsFromEitherAlphabet();
    void expectedHash_data();
    void expectedHash();
    void fileSystemErrorsSayWhy_data();
    void fileSystemErrorsSayWhy();
    void fullTemporaryFolderSaysWhy();
    void updateOnAWorkerThread();
    void proxySettingsThatAreNotHexAreRefused();

private:
    QByteArray call(const char* exportName, const updater::Request& request);

    QLibrary m_library;
    HttpsTestServer m_server;
    QByteArray m_newPackage;
    QByteArray m_oldPackage;
    QByteArray m_content;
    QScopedPointer<QTemporaryDir> m_installation;
    QString m_startDir;
};

void TestUpdateData::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_update_data"));
    m_library.setFileName(TestPaths::libraryPath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    const auto init = reinterpret_cast<updater::InitFunction>(m_library.resolve(updater::InitName));
    QVERIFY(init);
    init();

    m_content = incompressibleBytes(3000, 5);
    m_newPackage = packageWith(m_content);
    m_oldPackage = packageWith("an older version, signed all the same");
    QVERIFY(!m_newPackage.isEmpty() && !m_oldPackage.isEmpty());
    QVERIFY(m_server.start());
    m_server.setRoute(QStringLiteral("/new.ztx"), HttpsTestServer::file(m_newPackage));
    m_server.setRoute(QStringLiteral("/old.ztx"), HttpsTestServer::file(m_oldPackage));
    m_server.setRoute(QStringLiteral("/empty.ztx"), HttpsTestServer::file(QByteArray()));
    m_startDir = QDir::currentPath();
}

void TestUpdateData::cleanupTestCase()
{
    m_server.stop();
}

// Each case installs into a fresh folder, the current directory of the call.
void TestUpdateData::init()
{
    m_installation.reset(new QTemporaryDir);
    QVERIFY(m_installation->isValid());
    QVERIFY(QDir::setCurrent(m_installation->path()));
    QVERIFY(FileTools::writeFile(QStringLiteral("app.bin"), "installed"));
}

void TestUpdateData::cleanup()
{
    QDir::setCurrent(m_startDir);
    m_installation.reset();
}

QByteArray TestUpdateData::call(const char* exportName, const updater::Request& request)
{
    const auto work = reinterpret_cast<updater::WorkFunction>(m_library.resolve(exportName));
    return work ? work(request, updater::Context()) : QByteArray("export missing");
}

void TestUpdateData::decodesEitherAlphabet_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("alphabet");

    // 0xFB 0xEF 0xFF ... encodes to the characters the alphabets differ in.
    const QByteArray bytes("\xfb\xef\xff\xfe\x3f\x01\x02", 7);
    const QByteArray::Base64Options unpadded = QByteArray::OmitTrailingEquals;
    QTest::newRow("standard") << bytes.toBase64() << bytes << int(Base64Data::Standard);
    QTest::newRow("standard, no padding") << bytes.toBase64(unpadded) << bytes << int(Base64Data::Standard);
    QTest::newRow("URL-safe") << bytes.toBase64(QByteArray::Base64UrlEncoding) << bytes << int(Base64Data::UrlSafe);
    QTest::newRow("URL-safe, no padding")
        << bytes.toBase64(QByteArray::Base64UrlEncoding | unpadded) << bytes << int(Base64Data::UrlSafe);
    QTest::newRow("standard, in lines") << wrapped(QByteArray(100, '\xff').toBase64()) << QByteArray(100, '\xff')
                                        << int(Base64Data::Standard);
    QTest::newRow("shared characters only") << QByteArray("YWJj") << QByteArray("abc") << int(Base64Data::UrlSafe);
    QTest::newRow("empty") << QByteArray() << QByteArray() << int(Base64Data::UrlSafe);
    // Not Base64: decoded as URL-safe, skipping what does not belong.
    QTest::newRow("both alphabets") << QByteArray("+/-_") << QByteArray::fromBase64("-_", QByteArray::Base64UrlEncoding)
                                    << int(Base64Data::NotBase64);
    QTest::newRow("a character too many") << QByteArray("YWJjZ") << QByteArray::fromBase64("YWJjZ", QByteArray::Base64UrlEncoding)
                                          << int(Base64Data::NotBase64);
    QTest::newRow("padding inside") << QByteArray("YQ==YQ==") << QByteArray::fromBase64("YQ==YQ==", QByteArray::Base64UrlEncoding)
                                    << int(Base64Data::NotBase64);
    QTest::newRow("no Base64 at all") << QByteArray("%%%%") << QByteArray() << int(Base64Data::NotBase64);
}

void TestUpdateData::decodesEitherAlphabet()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QFETCH(int, alphabet);
    const Base64Data decoded = Base64Data::decode(text);
    QCOMPARE(int(decoded.alphabet()), alphabet);
    QCOMPARE(decoded.bytes(), bytes);
}

// Random texts, mostly of Base64 characters with padding, white space and
// strangers among them, read in pieces of random sizes.
void TestUpdateData::decodesInPiecesAsQtDecodesWhole()
{
    const QByteArray characters("AQw09+/-_= \n\r\t%\x80");
    QRandomGenerator random(19);
    for (int round = 0; round < 40000; ++round) {
        // Now and then one longer than a block of the count.
        QByteArray text(round % 1000 == 0 ? int(random.bounded(1000, 3000)) : int(random.bounded(0, 14)), '\0');
        for (char& c : text)
            c = random.bounded(2) ? "AQw09"[random.bounded(5)] : characters.at(int(random.bounded(characters.size())));
        if (round % 3 == 0)
            text = random.bounded(2) ? text.toBase64() : text.toBase64(QByteArray::Base64UrlEncoding);
        const QPair<int, QByteArray> expected = decodedWholeByQt(text);

        Base64Data decoded(text);
        const int capacity = int(random.bounded(1, 8));
        QByteArray pieces;
        QByteArray piece(capacity, '\0');
        for (int length; (length = decoded.read(piece.data(), capacity)) > 0;)
            pieces += piece.left(length);
        QVERIFY2(int(decoded.alphabet()) == expected.first && pieces == expected.second &&
                     decoded.size() == expected.second.size(),
                 qPrintable(QStringLiteral("%1 in pieces of %2").arg(QString::fromLatin1(text.toPercentEncoding())).arg(capacity)));
    }
}

void TestUpdateData::installsFromEitherAlphabet_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<QByteArray>("characters"); // at least one of them must occur
    QTest::newRow("standard") << int(QByteArray::Base64Encoding) << QByteArray("+/");
    QTest::newRow("standard, no padding") << int(QByteArray::OmitTrailingEquals) << QByteArray("+/");
    QTest::newRow("URL-safe") << int(QByteArray::Base64UrlEncoding) << QByteArray("-_");
    QTest::newRow("URL-safe, no padding") << int(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
                                          << QByteArray("-_");
}

void TestUpdateData::installsFromEitherAlphabet()
{
    QFETCH(int, options);
    QFETCH(QByteArray, characters);
    const QByteArray text = m_newPackage.toBase64(QByteArray::Base64Options(options));
    QVERIFY(text.contains(characters.at(0)) || text.contains(characters.at(1)));
    QCOMPARE(text.endsWith('='), !(options & QByteArray::OmitTrailingEquals));

    QCOMPARE(call(updater::UpdateFromDataName, {{"data", text}}), kInstalled);
    QCOMPARE(FileTools::readFile(QStringLiteral("app.bin")), m_content);
}

void TestUpdateData::expectedHash_data()
{
    QTest::addColumn<bool>("download"); // Update from the server, or UpdateFromData
    QTest::addColumn<QByteArray>("package");
    QTest::addColumn<QByteArray>("sha256");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("logLine");

    const QByteArray newHash = sha256Hex(m_newPackage);
    const QByteArray unsignedPackage = ZipBuilder().file(QStringLiteral("app.bin"), "unsigned").bytes();

    for (const bool download : {true, false}) {
        const char* flow = download ? "Update" : "UpdateFromData";
        QTest::addRow("%s, matching", flow) << download << m_newPackage << newHash << kInstalled << QString();
        QTest::addRow("%s, matching in capitals", flow)
            << download << m_newPackage << newHash.toUpper() << kInstalled << QString();
        QTest::addRow("%s, no hash", flow) << download << m_newPackage << QByteArray() << kInstalled << QString();
        // An older package with a valid signature, served in place of the
        // one the host asked for.
        QTest::addRow("%s, older signed package", flow)
            << download << m_oldPackage << newHash << kVerificationError << QString();
        // The hash covers the whole package, signature trailer included.
        const int trailerSize = VerificationSupport::trailer(QByteArray(256, 's')).size();
        const QByteArray archiveOnly = m_newPackage.left(m_newPackage.size() - trailerSize);
        QTest::addRow("%s, hash of the archive alone", flow)
            << download << m_newPackage << sha256Hex(archiveOnly) << kVerificationError << QString();
        // Refused before anything is sent or written, and kept out of the log.
        const QByteArray refused = ResultTexts::insufficientParameters(QStringLiteral("sha256 is not 64 hexadecimal "
                                                                                      "digits")).serialize();
        QTest::addRow("%s, 63 digits", flow) << download << m_newPackage << newHash.left(63) << refused << QString();
        QTest::addRow("%s, not hexadecimal", flow) << download << m_newPackage << "g" + newHash.mid(1) << refused
                                                   << QString();
        QTest::addRow("%s, line break", flow) << download << m_newPackage << newHash + "\n" << refused << QString();
        // A matching hash does not spare the signature check.
        QTest::addRow("%s, unsigned package with its hash", flow)
            << download << unsignedPackage << sha256Hex(unsignedPackage) << kVerificationError
            << "ERROR  - CDefaultLibrary::verifyDownloadedFile :: Verification error: ";
    }
}

void TestUpdateData::expectedHash()
{
    QFETCH(bool, download);
    QFETCH(QByteArray, package);
    QFETCH(QByteArray, sha256);
    QFETCH(QByteArray, expected);
    QFETCH(QString, logLine);

    const TreeSnapshot before = TreeSnapshot::take(QDir::currentPath());
    const int requestsBefore = m_server.requestedPaths().size();
    updater::Request request;
    if (!sha256.isNull())
        request.insert("sha256", sha256);
    LogFile log(LogFile::pathFor(QStringLiteral("tst_update_data")));
    QByteArray result;
    if (download) {
        m_server.setRoute(QStringLiteral("/served.ztx"), HttpsTestServer::file(package));
        request.insert("url", m_server.url(QStringLiteral("/served.ztx")).toUtf8());
        result = call(updater::UpdateName, request);
    } else {
        request.insert("data", package.toBase64(QByteArray::Base64UrlEncoding));
        result = call(updater::UpdateFromDataName, request);
    }
    QCOMPARE(result, expected);
    if (!logLine.isEmpty())
        QVERIFY2(log.hasNewLine(logLine), qPrintable(log.newText()));
    if (expected.startsWith("42|")) {
        QVERIFY(!log.newText().contains(QString::fromLatin1(sha256.left(40))));
        QCOMPARE(m_server.requestedPaths().size(), requestsBefore);
    }
    if (expected == kInstalled) {
        QCOMPARE(FileTools::readFile(QStringLiteral("app.bin")), m_content);
    } else {
        const TreeSnapshot after = TreeSnapshot::take(QDir::currentPath());
        QVERIFY2(before == after, qPrintable(before.differences(after)));
    }
}

void TestUpdateData::fileSystemErrorsSayWhy_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<updater::Request>("request");
    QTest::addColumn<bool>("noTemporaryFolder");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QString>("logLine");

    const QString empty = QStringLiteral("WARN  - CDefaultLibrary::handleDownloadErrors :: Downloaded file is empty.");
    QTest::newRow("no data") << false << updater::Request() << false << kFileSystemError << empty;
    QTest::newRow("empty data") << false << updater::Request{{"data", ""}} << false << kFileSystemError << empty;
    QTest::newRow("data not Base64, nothing decoded")
        << false << updater::Request{{"data", "%%%%"}} << false << kFileSystemError << empty;
    QTest::newRow("data decoding to nothing") << false << updater::Request{{"data", "===="}} << false
                                              << kFileSystemError << empty;
    // Not Base64 but decoding to bytes: as before, they fail the signature.
    QTest::newRow("data not Base64, bytes decoded")
        << false << updater::Request{{"data", "not Base64 at all!"}} << false << kVerificationError << QString();
    // No temporary file: nothing is downloaded.
    QTest::newRow("temporary folder missing, data")
        << false << updater::Request{{"data", m_newPackage.toBase64()}} << true << kFileSystemError << QString();
    QTest::newRow("temporary folder missing, download")
        << true << updater::Request{{"url", m_server.url(QStringLiteral("/new.ztx")).toUtf8()}} << true
        << kFileSystemError << QString();
    QTest::newRow("empty download") << true << updater::Request{{"url", m_server.url(QStringLiteral("/empty.ztx")).toUtf8()}}
                                    << false << kFileSystemError << empty;
}

void TestUpdateData::fileSystemErrorsSayWhy()
{
    QFETCH(bool, download);
    QFETCH(updater::Request, request);
    QFETCH(bool, noTemporaryFolder);
    QFETCH(QByteArray, expected);
    QFETCH(QString, logLine);

    // A temporary folder that is a file: no temporary file can be made in it,
    // not even by root.
    const QByteArray oldTmpDir = qgetenv("TMPDIR");
    QTemporaryFile notAFolder;
    QVERIFY(notAFolder.open());
    if (noTemporaryFolder)
        qputenv("TMPDIR", QFile::encodeName(notAFolder.fileName()));
    const int requestsBefore = m_server.requestedPaths().size();
    LogFile log(LogFile::pathFor(QStringLiteral("tst_update_data")));
    const QByteArray result = call(download ? updater::UpdateName : updater::UpdateFromDataName, request);
    if (noTemporaryFolder) {
        if (oldTmpDir.isNull())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", oldTmpDir);
    }
    QCOMPARE(result, expected);
    if (!logLine.isEmpty())
        QVERIFY2(log.hasNewLine(logLine), qPrintable(log.newText()));
    if (noTemporaryFolder)
        QCOMPARE(m_server.requestedPaths().size(), requestsBefore);
    QCOMPARE(FileTools::readFile(QStringLiteral("app.bin")), QByteArray("installed"));
}

// Data that does not fit the temporary folder: a file system error, not a
// verification error.
void TestUpdateData::fullTemporaryFolderSaysWhy()
{
    const QByteArray package = VerificationSupport::signedPackage(ZipBuilder().stored().file(QStringLiteral("app.bin"),
                                                                         incompressibleBytes(2 * 1024 * 1024, 9)).bytes());
    SmallFilesystem folder(QStringLiteral("1m"));
    QVERIFY2(folder.isMounted(), qPrintable(folder.error()));
    folder.becomeTemporaryFolder();
    QCOMPARE(call(updater::UpdateFromDataName, {{"data", package.toBase64()}}), kFileSystemError);
    QCOMPARE(FileTools::readFile(QStringLiteral("app.bin")), QByteArray("installed"));
}

// Update runs its download's event loop on whichever thread calls it.
void TestUpdateData::updateOnAWorkerThread()
{
    QByteArray result;
    const updater::Request request{{"url", m_server.url(QStringLiteral("/new.ztx")).toUtf8()},
                                   {"sha256", sha256Hex(m_newPackage)}};
    QScopedPointer<QThread> worker(QThread::create([&]() { result = call(updater::UpdateName, request); }));
    worker->start();
    QVERIFY(worker->wait(60000));
    QCOMPARE(result, kInstalled);
    QCOMPARE(FileTools::readFile(QStringLiteral("app.bin")), m_content);
}

// The proxy text itself, not its transport form: refused before anything is
// sent, and nothing of it (the password least of all) in the log.
void TestUpdateData::proxySettingsThatAreNotHexAreRefused()
{
    const int requestsBefore = m_server.requestedPaths().size();
    LogFile log(LogFile::pathFor(QStringLiteral("tst_update_data")));
    const QByteArray result = call(updater::UpdateName, {{"url", m_server.url(QStringLiteral("/new.ztx")).toUtf8()},
                                                         {"proxySettings", "127.0.0.1|3128|adam|Deadbeef42"}});
    QCOMPARE(result, ResultTexts::insufficientParameters(QStringLiteral("proxySettings is not hexadecimal")).serialize());
    QVERIFY(!log.newText().contains(QStringLiteral("eadbeef")) && !log.newText().contains(QStringLiteral("3128")));
    QCOMPARE(m_server.requestedPaths().size(), requestsBefore);
    QCOMPARE(FileTools::readFile(QStringLiteral("app.bin")), QByteArray("installed"));
}

QTEST_GUILESS_MAIN(TestUpdateData)
#include "tst_update_data.moc"
