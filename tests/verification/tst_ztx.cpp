// The publisher's tool ztx and the build's key generator, run as the
// programs they are.

#include <QtTest>

#include <QFileInfo>
#include <QTemporaryDir>

#include <quazip/JlCompress.h>

#include "support/FileTools.h"
#include "support/VerificationSupport.h"
#include "verification/ModuleReader.h"

using namespace FileTools;
using namespace VerificationSupport;

class TestZtx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keygenPackVerifyRoundTrip();
    void packedWithTestKeyVerifiesWithBuiltInKey();
    void tamperedPackageIsRejected();
    void signKeepsTheArchiveByteForByte();
    void refusals_data();
    void refusals();
    void keyBlockGenerator_data();
    void keyBlockGenerator();

private:
    QString path(const QString& name) const
    {
        return m_dir.filePath(name);
    }
    QTemporaryDir m_dir;
    QString m_source;
    QString m_package;
};

void TestZtx::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_source = path("source");
    QVERIFY(QDir().mkpath(m_source + "/plugins/deep"));
    QVERIFY(QDir().mkpath(m_source + "/.config"));
    QVERIFY(writeFile(m_source + "/app.exe", QByteArray(2000, 'a')));
    QVERIFY(writeFile(m_source + "/plugins/one.dll", QByteArray("one")));
    QVERIFY(writeFile(m_source + "/plugins/deep/two.dll", QByteArray("two")));
    QVERIFY(writeFile(m_source + "/.config/settings.ini", QByteArray("[a]\n")));
    QVERIFY(writeFile(m_source + "/empty.txt", QByteArray()));

    m_package = path("test.ztx");
    const Run packed = run(ztxPath(), { "pack", m_source, "--key", keyPath("test-private.pem"), "-o", m_package });
    QVERIFY2(packed.exitCode == 0, qPrintable(packed.err));
}

void TestZtx::keygenPackVerifyRoundTrip()
{
    const QString keys = path("keys/new");
    const Run generated = run(ztxPath(), { "keygen", "--out", keys });
    QVERIFY2(generated.exitCode == 0, qPrintable(generated.err));
    const QString privateKey = keys + "/private.pem";
    const QString publicKey = keys + "/public.pem";
    QCOMPARE(QFileInfo(privateKey).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
        QFile::Permissions());
    // An existing pair is never overwritten.
    const QByteArray before = readFile(privateKey);
    QCOMPARE(run(ztxPath(), { "keygen", "--out", keys }).exitCode, 3);
    QCOMPARE(readFile(privateKey), before);

    const QString package = path("new-key.ztx");
    // Not the key this build's module accepts: said, and packed only on request.
    const Run packed = run(ztxPath(), { "pack", m_source, "--key", privateKey, "-o", package, "--allow-other-key" });
    QCOMPARE(packed.exitCode, 0);
    QVERIFY2(packed.err.contains("is not the key built into this ztx"), qPrintable(packed.err));

    // Paths relative to the folder, subfolders and hidden files included.
    QStringList entries = JlCompress::getFileList(package);
    entries.sort();
    const QStringList files = { ".config/settings.ini", "app.exe", "empty.txt", "plugins/deep/two.dll",
        "plugins/one.dll" };
    for (const QString& file : files)
        QVERIFY2(entries.contains(file), qPrintable(entries.join(QLatin1Char(' '))));
    for (const QString& entry : entries)
        QVERIFY2(!entry.startsWith(QLatin1Char('/')) && !entry.contains(QLatin1String("source")), qPrintable(entry));

    QCOMPARE(run(ztxPath(), { "verify", package, "--key", publicKey }).exitCode, 0);
    const Run otherKey = run(ztxPath(), { "verify", package, "--key", keyPath("test-public.pem") });
    QCOMPARE(otherKey.exitCode, 1);
    QVERIFY(otherKey.err.contains("does NOT verify"));
    QCOMPARE(run(ztxPath(), { "verify", package }).exitCode, 1);
}

void TestZtx::packedWithTestKeyVerifiesWithBuiltInKey()
{
    const Run verified = run(ztxPath(), { "verify", m_package });
    QVERIFY2(verified.exitCode == 0, qPrintable(verified.err));
    QVERIFY(verified.out.contains("signature OK"));
    QCOMPARE(run(ztxPath(), { "verify", m_package, "--key", keyPath("test-public.pem") }).exitCode, 0);
}

void TestZtx::tamperedPackageIsRejected()
{
    const QByteArray package = readFile(m_package);
    // In the archive, in the signature, in iExtraDataSize.
    for (const int fromEnd : { int(package.size()), 100, 9 }) {
        QByteArray bytes = package;
        bytes[bytes.size() - fromEnd] = char(bytes[bytes.size() - fromEnd] ^ 0x04);
        const QString tampered = path("tampered.ztx");
        QVERIFY(writeFile(tampered, bytes));
        const Run verified = run(ztxPath(), { "verify", tampered });
        QCOMPARE(verified.exitCode, 1);
        QVERIFY2(verified.err.contains(fromEnd == 9 ? "has no readable signature trailer" : "does NOT verify"),
            qPrintable(verified.err));
    }
}

void TestZtx::signKeepsTheArchiveByteForByte()
{
    const QString zip = path("plain.zip");
    QVERIFY(JlCompress::compressDir(zip, m_source));
    const QString package = path("signed.ztx");
    const Run signedRun = run(ztxPath(), { "sign", zip, "--key", keyPath("test-private.pem"), "-o", package });
    QVERIFY2(signedRun.exitCode == 0, qPrintable(signedRun.err));
    ModuleReader reader(package, false);
    QVERIFY(reader.isRead());
    QCOMPARE(reader.moduleData(), readFile(zip));
    QCOMPARE(reader.signature().size(), 256);
    QVERIFY(reader.verify(true));
}

void TestZtx::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString privateKey = keyPath("test-private.pem");
    const QString out = path("refused.ztx");
    QVERIFY(QDir().mkpath(path("empty-folder")));
    QVERIFY(writeFile(path("not-a.zip"), QByteArray(500, 'z')));

    QTest::newRow("no command") << QStringList() << 2 << "usage:";
    QTest::newRow("empty folder") << QStringList { "pack", path("empty-folder"), "--key", privateKey, "-o", out } << 3
                                  << "holds no files";
    QTest::newRow("public key to sign") << QStringList { "pack", m_source, "--key", keyPath("test-public.pem"), "-o",
        out } << 3 << "not an unencrypted PEM private key";
    QTest::newRow("sign a non-zip") << QStringList { "sign", path("not-a.zip"), "--key", privateKey, "-o", out } << 3
                                    << "is not a zip archive";
    QTest::newRow("verify a bare file") << QStringList { "verify", path("not-a.zip") } << 1
                                        << "has no readable signature trailer";
}

void TestZtx::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const Run result = run(ztxPath(), arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(path("refused.ztx")));
}

void TestZtx::keyBlockGenerator_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("test key") << keyPath("test-public.pem") << QString();
    QTest::newRow("exponent 3") << keyPath("accepted-e3-public.pem") << QString();
    QTest::newRow("1024 bits") << keyPath("refused/rsa-1024-public.pem")
                               << "the modulus has 1024 bits; it must have 2048";
    QTest::newRow("4-byte exponent") << keyPath("refused/rsa-2048-e16777217-public.pem")
                                     << "the public exponent has 4 bytes";
    QTest::newRow("EC key") << keyPath("refused/ec-p256-public.pem") << "it is not an RSA key";
    QTest::newRow("private key") << keyPath("test-private.pem") << "not a PEM public key";
}

void TestZtx::keyBlockGenerator()
{
    QFETCH(QString, key);
    QFETCH(QString, refusal);
    const QString output = path("KeyData.cpp");
    QFile::remove(output);
    const Run result = run(makeKeyBlocksPath(), { key, output });
    if (refusal.isEmpty()) {
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        const QByteArray source = readFile(output);
        QVERIFY(source.contains("const unsigned char blockA[384]"));
        QVERIFY(source.contains("const unsigned char exponent[3]"));
    } else {
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains(" refused: ") && result.err.contains(refusal), qPrintable(result.err));
        QVERIFY(!QFileInfo::exists(output));
    }
}

QTEST_GUILESS_MAIN(TestZtx)
#include "tst_ztx.moc"
