// The signature check of a downloaded package, as the controller runs it on
// its temporary file, with packages made by ztx and the test key.

#include <QtTest>

#include <QLibrary>
#include <QTemporaryDir>

#include <openssl/err.h>

#include <updater/updater.h>

#include "controller/CDefaultLibraryTestAccess.h"
#include "module/ResultTexts.h"
#include "support/FileTools.h"
#include "support/LogFile.h"
#include "support/TestPaths.h"
#include "support/VerificationSupport.h"
#include "verification/ModuleReader.h"

using namespace FileTools;
using namespace VerificationSupport;

namespace {

const QByteArray Rejected = ResultTexts::verificationError().serialize();

// Runs the check on a controller whose temporary file holds the bytes, as
// after a download.
bool verifyBytes(const QByteArray& bytes, QByteArray* result = nullptr)
{
    CDefaultLibrary library;
    const CDefaultLibraryTestAccess access(library);
    QTemporaryFile& file = access.tempFile();
    if (!file.open() || file.write(bytes) != bytes.size())
        qFatal("cannot fill the temporary file");
    file.close();
    const QByteArray before = access.result().serialize();
    const bool verified = access.verifyDownloadedFile();
    if (result)
        *result = access.result().serialize();
    // Success leaves the result alone.
    if (verified && access.result().serialize() != before)
        return false;
    return verified;
}

} // namespace

class TestVerifyPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void ztxPackageVerifies();
    void singleByteChangesAreRejected_data();
    void singleByteChangesAreRejected();
    void wrongSignaturesAreRejected_data();
    void wrongSignaturesAreRejected();
    void bareZipIsRejectedAfterTheSizeLine();
    void everyTruncationIsRejected();
    void loggedErrorBelongsToThisCheck();
    void hostGetsResult43FromUpdateFromData();

private:
    QTemporaryDir m_dir;
    QByteArray m_package;
    QByteArray m_zip;
};

void TestVerifyPackage::initTestCase()
{
    QCoreApplication::setOrganizationName("UpdaterTests");
    QCoreApplication::setApplicationName("tst_verify_package");
    QVERIFY(m_dir.isValid());
    // A small folder, so that every byte of the package can be changed.
    const QString source = m_dir.filePath("source");
    QVERIFY(QDir().mkpath(source + "/bin"));
    QVERIFY(writeFile(source + "/app.txt", QByteArray("version 2\n")));
    QVERIFY(writeFile(source + "/bin/tool", QByteArray(300, 'x')));
    const QString package = m_dir.filePath("package.ztx");
    const Run packed = run(ztxPath(), { "pack", source, "--key", keyPath("test-private.pem"), "-o", package });
    QVERIFY2(packed.exitCode == 0, qPrintable(packed.err));
    m_package = readFile(package);
    QVERIFY(m_package.size() > 273 + 100);
    m_zip = m_package.left(m_package.size() - 273);
    QVERIFY(m_zip.startsWith("PK"));
}

void TestVerifyPackage::ztxPackageVerifies()
{
    LogFile log;
    QVERIFY(verifyBytes(m_package));
    QVERIFY(!log.hasNewLine("Verification error"));
    // Only the new signature type is ever accepted.
    const QString path = m_dir.filePath("good.ztx");
    QVERIFY(writeFile(path, m_package));
    ModuleReader reader(path, false);
    QVERIFY(reader.verify(true));
    QVERIFY(!reader.verify(false));
}

void TestVerifyPackage::singleByteChangesAreRejected_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    const int zip = m_zip.size();
    QTest::newRow("module data") << 0 << zip;
    QTest::newRow("iSignatureSize") << zip << zip + 8;
    QTest::newRow("signature") << zip + 8 << zip + 8 + 256;
    QTest::newRow("iExtraDataSize") << zip + 8 + 256 << zip + 16 + 256;
}

void TestVerifyPackage::singleByteChangesAreRejected()
{
    QFETCH(int, from);
    QFETCH(int, to);
    for (int position = from; position < to; ++position) {
        for (const char mask : { '\x01', '\x80' }) {
            QByteArray changed = m_package;
            changed[position] = char(changed[position] ^ mask);
            QByteArray result;
            if (verifyBytes(changed, &result) || result != Rejected)
                QFAIL(qPrintable(QStringLiteral("byte %1 ^ %2 accepted: %3")
                                     .arg(position)
                                     .arg(int(uchar(mask)))
                                     .arg(QString::fromUtf8(result))));
        }
    }
}

void TestVerifyPackage::wrongSignaturesAreRejected_data()
{
    QTest::addColumn<QByteArray>("signature");
    const QString testKey = keyPath("test-private.pem");

    const QString otherKeys = m_dir.filePath("other-keys");
    const Run generated = run(ztxPath(), { "keygen", "--out", otherKeys });
    QVERIFY2(generated.exitCode == 0, qPrintable(generated.err));
    QTest::newRow("another key") << sign(otherKeys + "/private.pem", m_zip);
    QTest::newRow("SHA-1 digest") << sign(testKey, m_zip, "SHA1");
    QTest::newRow("PSS padding") << sign(testKey, m_zip, "SHA256", true);
    QTest::newRow("empty signature") << QByteArray();
    QTest::newRow("one byte short") << sign(testKey, m_zip).left(255);
}

void TestVerifyPackage::wrongSignaturesAreRejected()
{
    QFETCH(QByteArray, signature);
    const QByteArray package = m_zip + trailer(signature);
    // The trailer itself is sound: the signature is what fails.
    const QString path = m_dir.filePath("wrong.ztx");
    QVERIFY(writeFile(path, package));
    ModuleReader reader(path, false);
    QVERIFY(reader.isRead());
    QCOMPARE(reader.signature(), signature);

    LogFile log;
    QByteArray result;
    QVERIFY(!verifyBytes(package, &result));
    QCOMPARE(result, Rejected);
    QVERIFY(log.hasNewLine("ERROR  - CDefaultLibrary::verifyDownloadedFile :: Verification error: error:"));
}

void TestVerifyPackage::bareZipIsRejectedAfterTheSizeLine()
{
    ModuleToolsCapture moduleTools;
    LogFile log;
    QByteArray result;
    QVERIFY(!verifyBytes(m_zip, &result));
    QCOMPARE(result, Rejected);
    const QStringList lines = moduleTools.take();
    QVERIFY2(lines.last().startsWith("INFO ModuleReader::readModule :: wrong  iSignatureDataSize"),
        qPrintable(lines.join(QLatin1Char('\n'))));
    // OpenSSL was never asked, so nothing of it is queued.
    QVERIFY(log.hasNewLine(QStringLiteral("CDefaultLibrary::verifyDownloadedFile :: Verification error: "
                                          "error:00000000:lib(0)::reason(0)")));
}

void TestVerifyPackage::everyTruncationIsRejected()
{
    for (int length = 0; length < m_package.size(); ++length) {
        const QByteArray truncated = m_package.left(length);
        QByteArray result;
        if (verifyBytes(truncated, &result) || result != Rejected)
            QFAIL(qPrintable(QStringLiteral("%1 bytes accepted").arg(length)));
        // Whatever the reader took from the file lies inside it.
        const QString path = m_dir.filePath("truncated");
        QVERIFY(writeFile(path, truncated));
        ModuleReader reader(path, false);
        if (reader.isRead())
            QCOMPARE(reader.moduleData().size() + reader.signature().size() + 17, length);
    }
}

void TestVerifyPackage::loggedErrorBelongsToThisCheck()
{
    // Left over from earlier work on this thread (Qt's TLS uses the same
    // queue): not the reason this package fails.
    ERR_raise(ERR_LIB_SSL, ERR_R_INTERNAL_ERROR);
    LogFile log;
    QVERIFY(!verifyBytes(m_zip + trailer(sign(keyPath("test-private.pem"), "other"))));
    QVERIFY(log.hasNewLine("Verification error: error:02000068:rsa routines::bad signature"));
    QCOMPARE(ERR_peek_error(), 0ul);
}

void TestVerifyPackage::hostGetsResult43FromUpdateFromData()
{
    QLibrary library(TestPaths::libraryPath());
    QVERIFY2(library.load(), qPrintable(library.errorString()));
    auto init = reinterpret_cast<updater::InitFunction>(library.resolve("Init"));
    auto updateFromData = reinterpret_cast<updater::WorkFunction>(library.resolve("UpdateFromData"));
    QVERIFY(init && updateFromData);
    init();

    QByteArray tampered = m_package;
    tampered[10] = char(tampered[10] ^ 0x01);
    const QString workDir = m_dir.filePath("installation");
    QVERIFY(QDir().mkpath(workDir));
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(workDir));
    const QByteArray result =
        updateFromData({ { "data", tampered.toBase64(QByteArray::Base64UrlEncoding) } }, { { "languageId", 1 } });
    QDir::setCurrent(previous);
    QCOMPARE(result, Rejected);
    // Nothing was unpacked or installed.
    QCOMPARE(QDir(workDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestVerifyPackage)
#include "tst_verify_package.moc"
