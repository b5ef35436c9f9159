// The publisher's tool ztx and the build's key generator, run as the
// programs they are.

#include <QtTest>

#include <QFileInfo>
#include <QTemporaryDir>

#include <quazip/JlCompress.h>

#include "support/VerificationSupport.h"
#include "verification/ModuleReader.h"

using namespace VerificationSupport;

class TestZtx : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void keygenPackVerifyRoundTrip();
    void packedWithTestKeyVerifiesWithBuiltInKey();
    void tamperedPackageIsRejected_data();
    void tamperedPackageIsRejected();
    void signKeepsTheArchiveByteForByte();
    void refusals_data();
    void refusals();
    void keyBlockGenerator_data();
    void keyBlockGenerator();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    QTemporaryDir m_dir;
    QString m_source;
    QString m_package;
};

void TestZtx::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_source = path(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(m_source + QStringLiteral("/plugins/deep")));
    QVERIFY(QDir().mkpath(m_source + QStringLiteral("/.config")));
    QVERIFY(writeFile(m_source + QStringLiteral("/app.exe"), QByteArray(2000, 'a')));
    QVERIFY(writeFile(m_source + QStringLiteral("/plugins/one.dll"), QByteArray("one")));
    QVERIFY(writeFile(m_source + QStringLiteral("/plugins/deep/two.dll"), QByteArray("two")));
    QVERIFY(writeFile(m_source + QStringLiteral("/.config/settings.ini"), QByteArray("[a]\n")));
    QVERIFY(writeFile(m_source + QStringLiteral("/empty.txt"), QByteArray()));

    m_package = path(QStringLiteral("test.ztx"));
    const Run packed = run(ztxPath(), {QStringLiteral("pack"), m_source, QStringLiteral("--key"),
                                       keyPath(QStringLiteral("test-private.pem")), QStringLiteral("-o"), m_package});
    QVERIFY2(packed.exitCode == 0, qPrintable(packed.err));
}

void TestZtx::keygenPackVerifyRoundTrip()
{
    const QString keys = path(QStringLiteral("keys/new"));
    const Run generated = run(ztxPath(), {QStringLiteral("keygen"), QStringLiteral("--out"), keys});
    QVERIFY2(generated.exitCode == 0, qPrintable(generated.err));
    const QString privateKey = keys + QStringLiteral("/private.pem");
    const QString publicKey = keys + QStringLiteral("/public.pem");
    QCOMPARE(QFileInfo(privateKey).permissions() & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteOther),
             QFile::Permissions());
    QCOMPARE(modulusOf(publicKey).size(), 256);
    // An existing pair is never overwritten.
    const QByteArray before = readFile(privateKey);
    QCOMPARE(run(ztxPath(), {QStringLiteral("keygen"), QStringLiteral("--out"), keys}).exitCode, 1);
    QCOMPARE(readFile(privateKey), before);

    const QString package = path(QStringLiteral("new-key.ztx"));
    const Run packed = run(ztxPath(), {QStringLiteral("pack"), m_source, QStringLiteral("--key"), privateKey,
                                       QStringLiteral("-o"), package});
    QCOMPARE(packed.exitCode, 0);
    QVERIFY2(packed.err.contains(QStringLiteral("not the one built into this module")), qPrintable(packed.err));

    // Paths relative to the folder, subfolders and hidden files included.
    QStringList entries = JlCompress::getFileList(package);
    entries.sort();
    const QStringList files = {QStringLiteral(".config/settings.ini"), QStringLiteral("app.exe"),
                               QStringLiteral("empty.txt"), QStringLiteral("plugins/deep/two.dll"),
                               QStringLiteral("plugins/one.dll")};
    for (const QString& file : files)
        QVERIFY2(entries.contains(file), qPrintable(entries.join(QLatin1Char(' '))));
    for (const QString& entry : entries)
        QVERIFY2(!entry.startsWith(QLatin1Char('/')) && !entry.contains(QLatin1String("source")), qPrintable(entry));

    QCOMPARE(run(ztxPath(), {QStringLiteral("verify"), package, QStringLiteral("--key"), publicKey}).exitCode, 0);
    const Run otherKey = run(ztxPath(), {QStringLiteral("verify"), package, QStringLiteral("--key"),
                                         keyPath(QStringLiteral("test-public.pem"))});
    QCOMPARE(otherKey.exitCode, 1);
    QVERIFY(otherKey.err.contains(QStringLiteral("does NOT verify")));
    QCOMPARE(run(ztxPath(), {QStringLiteral("verify"), package}).exitCode, 1);
}

void TestZtx::packedWithTestKeyVerifiesWithBuiltInKey()
{
    const Run verified = run(ztxPath(), {QStringLiteral("verify"), m_package});
    QVERIFY2(verified.exitCode == 0, qPrintable(verified.err));
    QVERIFY(verified.out.contains(QStringLiteral("signature OK")));
    QCOMPARE(run(ztxPath(), {QStringLiteral("verify"), m_package, QStringLiteral("--key"),
                             keyPath(QStringLiteral("test-public.pem"))})
                 .exitCode,
             0);
}

void TestZtx::tamperedPackageIsRejected_data()
{
    QTest::addColumn<int>("fromEnd");
    QTest::addColumn<QString>("message");
    const int size = int(QFileInfo(m_package).size());
    QTest::newRow("first byte") << size << QStringLiteral("does NOT verify");
    QTest::newRow("last archive byte") << 274 << QStringLiteral("does NOT verify");
    QTest::newRow("signature") << 100 << QStringLiteral("does NOT verify");
    QTest::newRow("iExtraDataSize") << 9 << QStringLiteral("has no readable signature trailer");
}

void TestZtx::tamperedPackageIsRejected()
{
    QFETCH(int, fromEnd);
    QFETCH(QString, message);
    QByteArray bytes = readFile(m_package);
    bytes[bytes.size() - fromEnd] = char(bytes[bytes.size() - fromEnd] ^ 0x04);
    const QString tampered = path(QStringLiteral("tampered.ztx"));
    QVERIFY(writeFile(tampered, bytes));
    const Run verified = run(ztxPath(), {QStringLiteral("verify"), tampered});
    QCOMPARE(verified.exitCode, 1);
    QVERIFY2(verified.err.contains(message), qPrintable(verified.err));
}

void TestZtx::signKeepsTheArchiveByteForByte()
{
    const QString zip = path(QStringLiteral("plain.zip"));
    QVERIFY(JlCompress::compressDir(zip, m_source));
    const QString package = path(QStringLiteral("signed.ztx"));
    const Run signedRun = run(ztxPath(), {QStringLiteral("sign"), zip, QStringLiteral("--key"),
                                          keyPath(QStringLiteral("test-private.pem")), QStringLiteral("-o"), package});
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
    const QString privateKey = keyPath(QStringLiteral("test-private.pem"));
    const QString out = path(QStringLiteral("refused.ztx"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("empty-folder"))));
    QVERIFY(writeFile(path(QStringLiteral("not-a.zip")), QByteArray(500, 'z')));

    QTest::newRow("no command") << QStringList() << 2 << QStringLiteral("usage:");
    QTest::newRow("unknown command") << QStringList{QStringLiteral("unpack")} << 2 << QStringLiteral("unknown command");
    QTest::newRow("pack without -o") << QStringList{QStringLiteral("pack"), m_source, QStringLiteral("--key"), privateKey}
                                     << 2 << QStringLiteral("pack needs");
    QTest::newRow("option without value") << QStringList{QStringLiteral("verify"), m_package, QStringLiteral("--key")}
                                          << 2 << QStringLiteral("needs a value");
    QTest::newRow("empty folder") << QStringList{QStringLiteral("pack"), path(QStringLiteral("empty-folder")),
                                                 QStringLiteral("--key"), privateKey, QStringLiteral("-o"), out}
                                  << 1 << QStringLiteral("holds no files");
    QTest::newRow("public key to sign") << QStringList{QStringLiteral("pack"), m_source, QStringLiteral("--key"),
                                                       keyPath(QStringLiteral("test-public.pem")), QStringLiteral("-o"), out}
                                        << 1 << QStringLiteral("not an unencrypted PEM private key");
    QTest::newRow("sign a non-zip") << QStringList{QStringLiteral("sign"), path(QStringLiteral("not-a.zip")),
                                                   QStringLiteral("--key"), privateKey, QStringLiteral("-o"), out}
                                    << 1 << QStringLiteral("is not a zip archive");
    QTest::newRow("verify a bare file") << QStringList{QStringLiteral("verify"), path(QStringLiteral("not-a.zip"))} << 1
                                        << QStringLiteral("has no readable signature trailer");
    QTest::newRow("verify with an EC key") << QStringList{QStringLiteral("verify"), m_package, QStringLiteral("--key"),
                                                          keyPath(QStringLiteral("refused/ec-p256-public.pem"))}
                                           << 1 << QStringLiteral("is not an RSA key");
}

void TestZtx::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const Run result = run(ztxPath(), arguments);
    QCOMPARE(result.exitCode, exitCode);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(path(QStringLiteral("refused.ztx"))));
}

void TestZtx::keyBlockGenerator_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("refusal");
    QTest::newRow("test key") << keyPath(QStringLiteral("test-public.pem")) << QString();
    QTest::newRow("exponent 3") << keyPath(QStringLiteral("accepted-e3-public.pem")) << QString();
    QTest::newRow("1024 bits") << keyPath(QStringLiteral("refused/rsa-1024-public.pem"))
                               << QStringLiteral("the modulus has 1024 bits; it must have 2048");
    QTest::newRow("3072 bits") << keyPath(QStringLiteral("refused/rsa-3072-public.pem"))
                               << QStringLiteral("the modulus has 3072 bits; it must have 2048");
    QTest::newRow("4-byte exponent") << keyPath(QStringLiteral("refused/rsa-2048-e16777217-public.pem"))
                                     << QStringLiteral("the public exponent has 4 bytes");
    QTest::newRow("EC key") << keyPath(QStringLiteral("refused/ec-p256-public.pem"))
                            << QStringLiteral("it is not an RSA key");
    QTest::newRow("private key") << keyPath(QStringLiteral("test-private.pem")) << QStringLiteral("not a PEM public key");
    QTest::newRow("missing file") << path(QStringLiteral("no-such.pem")) << QStringLiteral("cannot be opened");
}

void TestZtx::keyBlockGenerator()
{
    QFETCH(QString, key);
    QFETCH(QString, refusal);
    const QString output = path(QStringLiteral("KeyData.cpp"));
    QFile::remove(output);
    const Run result = run(makeKeyBlocksPath(), {key, output});
    if (refusal.isEmpty()) {
        QVERIFY2(result.exitCode == 0, qPrintable(result.err));
        const QByteArray source = readFile(output);
        QVERIFY(source.contains("const unsigned char blockA[384]"));
        QVERIFY(source.contains("const unsigned char exponent[3]"));
        // The modulus is not written out whole.
        QVERIFY(!source.contains(modulusOf(key).toHex().left(16)));
    } else {
        QCOMPARE(result.exitCode, 1);
        QVERIFY2(result.err.contains(QStringLiteral(" refused: ")) && result.err.contains(refusal), qPrintable(result.err));
        QVERIFY(!QFileInfo::exists(output));
    }
}

QTEST_GUILESS_MAIN(TestZtx)
#include "tst_ztx.moc"
