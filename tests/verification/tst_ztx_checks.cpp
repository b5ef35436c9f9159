// ztx as a publisher meets it: what it refuses to write over, the packages
// it refuses because clients would, and how it names keys. Every package
// verdict is held against the module itself, run through its UpdateFromData
// export on a fresh installation folder.

#include <QtTest>

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLibrary>
#include <QLocalServer>
#include <QTemporaryDir>

#include <quazip/JlCompress.h>

#include <cerrno>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <updater/updater.h>
#include <updater/version.h>

#include "support/FileTools.h"
#include "support/TestPaths.h"
#include "support/VerificationSupport.h"
#include "support/ZipBuilder.h"

using namespace FileTools;
using namespace VerificationSupport;

namespace {

// "SHA256:" and the SHA-256 of the DER bytes inside a PEM public key file,
// worked out from the file's Base64 body.
QString fingerprintOfPublicPem(const QString& path)
{
    QByteArray body;
    for (const QByteArray& line : readFile(path).split('\n')) {
        if (!line.startsWith("-----"))
            body += line.trimmed();
    }
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(QCryptographicHash::hash(QByteArray::fromBase64(body), QCryptographicHash::Sha256).toHex());
}

QString fingerprintIn(const QString& text, const QString& label)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QRegularExpression::escape(label) + QStringLiteral(" (SHA256:[0-9a-f]{64})")).match(text);
    return match.hasMatch() ? match.captured(1) : QString();
}

// The type of what lies at path, without following a link.
QString kindAt(const QString& path)
{
    struct stat status;
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return QStringLiteral("nothing");
    if (S_ISLNK(status.st_mode))
        return QStringLiteral("link");
    if (S_ISFIFO(status.st_mode))
        return QStringLiteral("fifo");
    if (S_ISCHR(status.st_mode))
        return QStringLiteral("device");
    if (S_ISSOCK(status.st_mode))
        return QStringLiteral("socket");
    if (S_ISDIR(status.st_mode))
        return QStringLiteral("folder");
    return QStringLiteral("file");
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

class TestZtxChecks : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void outputThatMustNotBeWrittenOver_data();
    void outputThatMustNotBeWrittenOver();
    void forceReplacesAnExistingPackage();
    void outputInsideTheFolderIsLeftOut();
    void packRefusesWhatClientsRefuse_data();
    void packRefusesWhatClientsRefuse();
    void linksInsideTheFolderStayLinks();
    void verdictsAgreeWithTheModule_data();
    void verdictsAgreeWithTheModule();
    void fingerprintsNameTheKey();
    void testKeyIsFlaggedLoudly();
    void otherKeyOnlyOnRequest();
    void verifyTellsWhy_data();
    void verifyTellsWhy();
    void inspectListsThePackage();
    void commandLine_data();
    void commandLine();

private:
    QString path(const QString& name) const
    {
        return m_dir.filePath(name);
    }
    // The result code the module answers for this package, installed by
    // UpdateFromData into a fresh folder.
    int moduleResult(const QByteArray& package);
    QStringList packArguments(const QString& source, const QString& output) const
    {
        return {"pack", source, "--key", keyPath("test-private.pem"), "-o", output};
    }

    QTemporaryDir m_dir;
    QString m_source;
    QString m_otherKeys;
    QLibrary m_library;
    updater::WorkFunction m_updateFromData = nullptr;
    int m_installations = 0;
};

void TestZtxChecks::initTestCase()
{
    QCoreApplication::setOrganizationName("UpdaterTests");
    QCoreApplication::setApplicationName("tst_ztx_checks");
    QVERIFY(m_dir.isValid());
    m_source = path("source");
    QVERIFY(QDir().mkpath(m_source + "/bin"));
    QVERIFY(writeFile(m_source + "/app.txt", "version 2\n"));
    QVERIFY(writeFile(m_source + "/bin/tool", QByteArray(300, 'x')));
    QVERIFY(QFile::setPermissions(m_source + "/bin/tool", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                              QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                                              QFile::ExeOther));

    m_otherKeys = path("other-keys");
    const Run generated = run(ztxPath(), {"keygen", "--out", m_otherKeys});
    QVERIFY2(generated.exitCode == 0, qPrintable(generated.err));

    m_library.setFileName(TestPaths::libraryPath());
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
    auto init = reinterpret_cast<updater::InitFunction>(m_library.resolve(updater::InitName));
    m_updateFromData = reinterpret_cast<updater::WorkFunction>(m_library.resolve(updater::UpdateFromDataName));
    QVERIFY(init && m_updateFromData);
    init();
}

int TestZtxChecks::moduleResult(const QByteArray& package)
{
    const QString installation = path(QStringLiteral("installation-%1").arg(++m_installations));
    if (!QDir().mkpath(installation))
        return -1;
    const QString previous = QDir::currentPath();
    QDir::setCurrent(installation);
    const QByteArray result = m_updateFromData({{"data", package.toBase64(QByteArray::Base64UrlEncoding)}}, {});
    QDir::setCurrent(previous);
    return result.left(result.indexOf('|')).toInt();
}

void TestZtxChecks::outputThatMustNotBeWrittenOver_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("force");
    QTest::addColumn<QString>("message");
    QTest::newRow("FIFO") << "pack" << "fifo" << true << "is a FIFO, not a regular file";
    QTest::newRow("device node") << "pack" << "device" << true << "is a device, not a regular file";
    QTest::newRow("socket") << "pack" << "socket" << true << "is a socket, not a regular file";
    QTest::newRow("folder") << "pack" << "folder" << true << "is a folder";
    QTest::newRow("link to nothing") << "pack" << "dangling link" << true << "is a symbolic link to nothing";
    QTest::newRow("existing package") << "pack" << "file" << false << "exists; give --force to replace it";
    QTest::newRow("the signing key") << "pack" << "key" << true << "is the input";
    QTest::newRow("the archive being signed") << "sign" << "archive" << true << "is the input";
    QTest::newRow("missing folder") << "pack" << "missing folder" << true << "does not exist";
    QTest::newRow("FIFO, sign") << "sign" << "fifo" << true << "is a FIFO, not a regular file";
}

void TestZtxChecks::outputThatMustNotBeWrittenOver()
{
    QFETCH(QString, command);
    QFETCH(QString, kind);
    QFETCH(bool, force);
    QFETCH(QString, message);

    // Each target in a folder of its own, so that any stray file shows.
    QTemporaryDir folder(path("target-XXXXXX"));
    QVERIFY(folder.isValid());
    QString target = folder.filePath("target");
    QString key = keyPath("test-private.pem");
    const QString archive = folder.filePath("plain.zip");
    QVERIFY(ZipBuilder().file("app.txt", "new").write(archive));
    QLocalServer socketServer;
    if (kind == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0644), 0);
    } else if (kind == "device") {
        // The null device's numbers, but a node of our own: nothing outside
        // the temporary folder is ever touched.
        if (::mknod(QFile::encodeName(target).constData(), S_IFCHR | 0644, makedev(1, 3)) != 0)
            QSKIP(qPrintable(QStringLiteral("cannot make a device node here: %1").arg(qt_error_string(errno))));
    } else if (kind == "socket") {
        QVERIFY2(socketServer.listen(target), qPrintable(socketServer.errorString()));
    } else if (kind == "folder") {
        QVERIFY(QDir().mkpath(target));
    } else if (kind == "dangling link") {
        QVERIFY(QFile::link("missing.ztx", target));
    } else if (kind == "file") {
        QVERIFY(writeFile(target, "an earlier package"));
    } else if (kind == "key") {
        QVERIFY(QFile::copy(key, target));
        key = target;
    } else if (kind == "archive") {
        target = archive;
    } else if (kind == "missing folder") {
        target = folder.filePath("no-such-folder/package.ztx");
    }
    const QString kindBefore = kindAt(target);
    const QByteArray contentBefore = kindBefore == "file" ? readFile(target) : QByteArray();
    const QStringList namesBefore = namesIn(folder.path());

    QStringList arguments = {command, command == "pack" ? m_source : archive, "--key", key, "-o", target};
    if (force)
        arguments << "--force";
    const Run result = run(ztxPath(), arguments);
    QCOMPARE(result.exitCode, 3);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QCOMPARE(kindAt(target), kindBefore);
    if (kindBefore == "file")
        QCOMPARE(readFile(target), contentBefore);
    QCOMPARE(namesIn(folder.path()), namesBefore);
}

void TestZtxChecks::forceReplacesAnExistingPackage()
{
    const QString package = path("replaced.ztx");
    QVERIFY(writeFile(package, "an earlier package"));
    const Run packed = run(ztxPath(), packArguments(m_source, package) << "--force");
    QVERIFY2(packed.exitCode == 0, qPrintable(packed.err));
    QCOMPARE(run(ztxPath(), {"verify", package}).exitCode, 0);
}

void TestZtxChecks::outputInsideTheFolderIsLeftOut()
{
    const QString source = path("self-source");
    QVERIFY(QDir().mkpath(source));
    QVERIFY(writeFile(source + "/app.txt", "app"));
    // Given through a path of its own, not the one the folder is packed by.
    const QString package = path("self-source/../self-source/update.ztx");
    for (int round = 0; round < 2; ++round) {
        const Run packed = run(ztxPath(), packArguments(source, package) << "--force");
        QVERIFY2(packed.exitCode == 0, qPrintable(packed.err));
        QCOMPARE(packed.err.contains("left out of the package"), round == 1);
        QCOMPARE(JlCompress::getFileList(package), QStringList {"app.txt"});
    }
}

void TestZtxChecks::packRefusesWhatClientsRefuse_data()
{
    QTest::addColumn<QString>("tree");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("reason");
    QTest::newRow("link to a file outside") << "outside-link" << "outside" << "symbolic link that leads out";
    QTest::newRow("relative link out") << "relative-out" << "up" << "symbolic link that leads out";
    QTest::newRow("link to a folder outside") << "folder-out" << "lib" << "symbolic link that leads out";
    QTest::newRow("link to nothing") << "dangling" << "dangling" << "symbolic link to nothing: missing.txt is not in";
    QTest::newRow("name with a backslash and ..") << "dotdot-name" << "..\\evil.txt" << "a backslash in the name";
    QTest::newRow("name with a drive") << "drive-name" << "c:evil.txt" << "absolute path";
    QTest::newRow("FIFO") << "fifo" << "pipe" << "is a FIFO";
    QTest::newRow("empty folder") << "empty" << QString() << "holds no files";
    QTest::newRow("only folders") << "only-folders" << QString() << "holds no files";
    QTest::newRow("over the size limit") << "oversized" << "blob.bin" << "over the limit of 10485760 bytes";
    QTest::newRow("over the size limit, the largest named") << "oversized" << QString()
                                                            << "; the largest: blob.bin (10485760 bytes), app.txt (3 bytes)";
    QTest::newRow("over 1 GiB unpacked") << "huge" << QString()
                                         << "more than the 1073741824 bytes that are unpacked; the largest: huge.bin "
                                            "(1073741825 bytes), app.txt (3 bytes) (clients answer 41|";
}

void TestZtxChecks::packRefusesWhatClientsRefuse()
{
    QFETCH(QString, tree);
    QFETCH(QString, entry);
    QFETCH(QString, reason);
    const QString source = path("tree-" + tree);
    QVERIFY(QDir().mkpath(source));
    const QString outsideFile = path("outside.txt");
    QVERIFY(writeFile(outsideFile, "not part of the package"));
    if (tree != "empty" && tree != "only-folders")
        QVERIFY(writeFile(source + "/app.txt", "app"));
    if (tree == "outside-link") {
        QVERIFY(QFile::link(outsideFile, source + "/outside"));
    } else if (tree == "relative-out") {
        QVERIFY(QFile::link("../outside.txt", source + "/up"));
    } else if (tree == "folder-out") {
        QVERIFY(QFile::link(m_source, source + "/lib"));
    } else if (tree == "dangling") {
        QVERIFY(QFile::link("missing.txt", source + "/dangling"));
    } else if (tree == "dotdot-name") {
        QVERIFY(writeFile(source + "/..\\evil.txt", "evil"));
    } else if (tree == "drive-name") {
        QVERIFY(writeFile(source + "/c:evil.txt", "evil"));
    } else if (tree == "fifo") {
        QCOMPARE(::mkfifo(QFile::encodeName(source + "/pipe").constData(), 0644), 0);
    } else if (tree == "only-folders") {
        QVERIFY(QDir().mkpath(source + "/a/b"));
    } else if (tree == "oversized") {
        QVERIFY(writeFile(source + "/blob.bin", incompressibleBytes(int(updater::MaxPackageSize))));
    } else if (tree == "huge") {
        // Sparse: it takes no room, and is refused before it is read.
        QFile huge(source + "/huge.bin");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize((qint64(1) << 30) + 1));
    }

    const QString package = path("refused-" + tree + ".ztx");
    const Run result = run(ztxPath(), packArguments(source, package));
    QCOMPARE(result.exitCode, 3);
    QVERIFY2(result.err.contains(reason), qPrintable(result.err));
    if (!entry.isEmpty())
        QVERIFY2(result.err.contains("refused: " + entry + ": "), qPrintable(result.err));
    QVERIFY(!QFileInfo::exists(package));
}

void TestZtxChecks::linksInsideTheFolderStayLinks()
{
    const QString source = path("links-inside");
    QVERIFY(QDir().mkpath(source + "/lib"));
    QVERIFY(writeFile(source + "/lib/libapp.so.2", "library"));
    QVERIFY(QFile::link("libapp.so.2", source + "/lib/libapp.so"));
    // An absolute target inside the folder is stored relative to the link.
    QVERIFY(QFile::link(QFileInfo(source).canonicalFilePath() + "/lib", source + "/plugins"));
    const QString package = path("links-inside.ztx");
    const Run packed = run(ztxPath(), packArguments(source, package));
    QVERIFY2(packed.exitCode == 0, qPrintable(packed.err));

    const Run inspected = run(ztxPath(), {"inspect", package});
    QCOMPARE(inspected.exitCode, 0);
    QVERIFY2(inspected.out.contains(QRegularExpression("  lrwxrwxrwx +11  lib/libapp.so -> libapp.so.2\n")),
        qPrintable(inspected.out));
    QVERIFY2(inspected.out.contains(QRegularExpression("  lrwxrwxrwx +3  plugins -> lib\n")), qPrintable(inspected.out));
    QCOMPARE(moduleResult(readFile(package)), 0);
    QCOMPARE(readFile(path(QStringLiteral("installation-%1/lib/libapp.so").arg(m_installations))),
        QByteArray("library"));
}

void TestZtxChecks::verdictsAgreeWithTheModule_data()
{
    QTest::addColumn<QByteArray>("archive");
    QTest::addColumn<int>("clientResult");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("reason");

    QTest::newRow("plain files") << ZipBuilder().directory("bin").file("bin/app", "app").file("a.txt", "a").bytes()
                                 << 0 << QString() << QString();
    QTest::newRow("only folders") << ZipBuilder().directory("a").directory("a/b").bytes() << 0 << QString()
                                  << QString();
    QTest::newRow("absolute name") << ZipBuilder().file("a.txt", "a").file("/tmp/evil", "evil").bytes() << 41
                                   << "/tmp/evil" << "absolute path";
    QTest::newRow("climbs out") << ZipBuilder().file("../evil", "evil").bytes() << 41 << "../evil"
                                << "\"..\" component";
    QTest::newRow("link that leads out") << ZipBuilder().file("a.txt", "a").symlink("out", "../../etc").bytes() << 41
                                         << "out" << "symbolic link that leads out";
    QTest::newRow("written through a link") << ZipBuilder().symlink("up", "..").file("up/evil", "evil").bytes() << 41
                                            << "up" << "symbolic link that leads out";
    QTest::newRow("link to nothing") << ZipBuilder().file("a.txt", "a").symlink("l", "missing").bytes() << 41 << "l"
                                     << "symbolic link to nothing: missing is not in the package";
    QTest::newRow("backslash in a name") << ZipBuilder().file("a.txt", "a").file("dir\\b.txt", "b").bytes() << 41
                                         << "dir\\b.txt" << "a backslash in the name";
    QTest::newRow("claims over 1 GiB unpacked")
        << withClaimedSize(ZipBuilder().file("a.txt", "a").file("big.bin", "b").bytes(), "big.bin", 1u << 30) << 41
        << QString() << "the package unpacks to 1073741825 bytes, more than the 1073741824 bytes that are unpacked";
    ZipBuilder manyEntries;
    for (int i = 0; i <= 65536; ++i)
        manyEntries.file(QString::number(i), QByteArray());
    QTest::newRow("65,537 entries") << manyEntries.bytes() << 41 << QString()
                                    << "the package holds more than 65536 entries";
    QTest::newRow("a journal of the module's") << ZipBuilder().file("a.txt", "a").file("UPDATES/1700000000001.journal",
                                                  "{\"format\":1,\"files\":[]}").bytes()
                                               << 41 << "UPDATES/1700000000001.journal" << "the module's own folder UPDATES";
    // The zip library does not even open an archive without entries.
    QTest::newRow("no entries") << ZipBuilder().bytes() << 41 << QString() << "cannot open it";
    QTest::newRow("file and folder clash") << ZipBuilder().file("a", "file").file("a/b", "below a file").bytes() << 41
                                           << "a/b" << "cannot be unpacked";
    QByteArray damaged = ZipBuilder().stored().file("a.txt", "content that the check reads").bytes();
    damaged[damaged.indexOf("content that")] = 'C';
    QTest::newRow("damaged entry data") << damaged << 41 << "a.txt" << "cannot be unpacked";
    QTest::newRow("over the size limit")
        << ZipBuilder().stored().file("blob.bin", incompressibleBytes(int(updater::MaxPackageSize) - 200)).bytes() << 48
        << QString() << "over the limit of 10485760 bytes";
}

// The same archive three ways: signed elsewhere and given to verify and
// inspect, given to sign, and installed by the module.
void TestZtxChecks::verdictsAgreeWithTheModule()
{
    QFETCH(QByteArray, archive);
    QFETCH(int, clientResult);
    QFETCH(QString, entry);
    QFETCH(QString, reason);
    const QByteArray package = archive + trailer(sign(keyPath("test-private.pem"), archive));
    QCOMPARE(moduleResult(package), clientResult);

    const QString packagePath = path("elsewhere.ztx");
    QVERIFY(writeFile(packagePath, package));
    const int exitCode = clientResult == 0 ? 0 : 3;
    const QString where = entry.isEmpty() ? QStringLiteral("refused: ") : "refused: " + entry + ": ";
    const Run verified = run(ztxPath(), {"verify", packagePath});
    QCOMPARE(verified.exitCode, exitCode);
    QVERIFY2(verified.out.contains("signature OK"), qPrintable(verified.out));
    if (clientResult != 0) {
        QVERIFY2(verified.err.contains(where) && verified.err.contains(reason), qPrintable(verified.err));
        QVERIFY2(verified.err.contains(QStringLiteral("(clients answer %1|").arg(clientResult)), qPrintable(verified.err));
    }

    const Run inspected = run(ztxPath(), {"inspect", packagePath, "--json"});
    QCOMPARE(inspected.exitCode, exitCode);
    const QJsonObject json = QJsonDocument::fromJson(inspected.out.toUtf8()).object();
    QCOMPARE(json.value("clientResult").toInt(), clientResult);
    QCOMPARE(json.value("accepted").toBool(), clientResult == 0);

    const QString archivePath = path("elsewhere.zip");
    const QString signedPath = path("signed-here.ztx");
    QFile::remove(signedPath);
    QVERIFY(writeFile(archivePath, archive));
    const Run signedRun = run(ztxPath(), {"sign", archivePath, "--key", keyPath("test-private.pem"), "-o", signedPath});
    QCOMPARE(signedRun.exitCode, exitCode);
    QCOMPARE(QFileInfo::exists(signedPath), clientResult == 0);
    if (clientResult != 0)
        QVERIFY2(signedRun.err.contains(reason), qPrintable(signedRun.err));
}

void TestZtxChecks::fingerprintsNameTheKey()
{
    const QString publicKey = m_otherKeys + "/public.pem";
    const QString privateKey = m_otherKeys + "/private.pem";
    const QString expected = fingerprintOfPublicPem(publicKey);

    const QString keys = path("fingerprint-keys");
    const Run generated = run(ztxPath(), {"keygen", "--out", keys});
    QCOMPARE(fingerprintIn(generated.out, "key fingerprint"), fingerprintOfPublicPem(keys + "/public.pem"));
    QVERIFY(fingerprintOfPublicPem(keys + "/public.pem") != expected);

    const QString package = path("fingerprinted.ztx");
    const Run packed = run(ztxPath(), packArguments(m_source, package));
    QCOMPARE(fingerprintIn(packed.out, "signing key"), fingerprintOfPublicPem(keyPath("test-public.pem")));
    const QString otherPackage = path("other-key.ztx");
    const Run packedOther = run(ztxPath(), {"pack", m_source, "--key", privateKey, "-o", otherPackage,
                                            "--allow-other-key"});
    QCOMPARE(packedOther.exitCode, 0);
    QCOMPARE(fingerprintIn(packedOther.out, "signing key"), expected);
    const Run verified = run(ztxPath(), {"verify", otherPackage, "--key", publicKey});
    QCOMPARE(verified.exitCode, 0);
    QCOMPARE(fingerprintIn(verified.out, "key"), expected);
    const Run inspected = run(ztxPath(), {"inspect", otherPackage, "--key", publicKey, "--json"});
    QCOMPARE(QJsonDocument::fromJson(inspected.out.toUtf8()).object().value("key").toObject().value("fingerprint")
                 .toString(),
        expected);

    // The build's generator prints the same for either half of the pair.
    const Run generator = run(makeKeyBlocksPath(), {"--fingerprint", publicKey, privateKey, path("no-key.pem")});
    QCOMPARE(generator.exitCode, 0);
    QCOMPARE(generator.out, QStringLiteral("%1 %2\n%1 %3\n- %4\n").arg(expected, publicKey, privateKey,
                                                                       path("no-key.pem")));
    // This build has the test key built in, and says so.
    const Run version = run(ztxPath(), {"--version"});
    QCOMPARE(fingerprintIn(version.out, "built-in key"), fingerprintOfPublicPem(keyPath("test-public.pem")));
    QVERIFY(version.out.contains("TEST key"));
}

void TestZtxChecks::testKeyIsFlaggedLoudly()
{
    const QString package = path("test-key.ztx");
    const Run packed = run(ztxPath(), packArguments(m_source, package));
    QCOMPARE(packed.exitCode, 0);
    QVERIFY2(packed.err.contains("WARNING: signing with the project's TEST key"), qPrintable(packed.err));
    const Run verified = run(ztxPath(), {"verify", package, "--key", keyPath("test-public.pem")});
    QVERIFY2(verified.err.contains("WARNING: verifying with the project's TEST key"), qPrintable(verified.err));
    const Run otherKey = run(ztxPath(), {"verify", package, "--key", m_otherKeys + "/public.pem"});
    QVERIFY2(!otherKey.err.contains("TEST key"), qPrintable(otherKey.err));
}

void TestZtxChecks::otherKeyOnlyOnRequest()
{
    const QString package = path("not-built-in.ztx");
    const QStringList arguments = {"pack", m_source, "--key", m_otherKeys + "/private.pem", "-o", package};
    const Run refused = run(ztxPath(), arguments);
    QCOMPARE(refused.exitCode, 3);
    QVERIFY2(refused.err.contains("is not the key built into this ztx") && refused.err.contains("--allow-other-key") &&
                 refused.err.contains(fingerprintOfPublicPem(keyPath("test-public.pem"))),
        qPrintable(refused.err));
    QVERIFY(!QFileInfo::exists(package));
    const Run allowed = run(ztxPath(), QStringList(arguments) << "--allow-other-key");
    QCOMPARE(allowed.exitCode, 0);
    QVERIFY(allowed.err.contains("warning: "));
    QCOMPARE(moduleResult(readFile(package)), 43);
}

void TestZtxChecks::verifyTellsWhy_data()
{
    QTest::addColumn<QString>("damage");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("message");
    const QString otherPublic = path("other-keys/public.pem");
    QTest::newRow("signed with the built-in key, checked with another")
        << "none" << otherPublic << "made with another key: the key built into this ztx";
    QTest::newRow("signed with another key") << "other key" << QString() << "not made with this key";
    QTest::newRow("archive changed after signing") << "archive" << QString()
                                                   << "made with this key, but the archive changed after signing";
    QTest::newRow("damaged signature") << "signature" << QString() << "not made with this key";
    QTest::newRow("no trailer") << "trailer" << QString() << "has no readable signature trailer";
}

void TestZtxChecks::verifyTellsWhy()
{
    QFETCH(QString, damage);
    QFETCH(QString, key);
    QFETCH(QString, message);
    const QByteArray archive = ZipBuilder().stored().file("app.txt", "version 2 of the app").bytes();
    const QString signer = damage == "other key" ? m_otherKeys + "/private.pem" : keyPath("test-private.pem");
    QByteArray package = archive + trailer(sign(signer, archive));
    if (damage == "archive")
        package[package.indexOf("version 2")] = 'V';
    else if (damage == "signature")
        package[archive.size() + 8 + 100] = char(package[archive.size() + 8 + 100] ^ 0x10);
    else if (damage == "trailer")
        package = archive;
    const QString packagePath = path("why.ztx");
    QVERIFY(writeFile(packagePath, package));

    QStringList arguments = {"verify", packagePath};
    if (!key.isEmpty())
        arguments << "--key" << key;
    const Run verified = run(ztxPath(), arguments);
    QCOMPARE(verified.exitCode, 1);
    QVERIFY2(verified.err.contains(message), qPrintable(verified.err));
    QVERIFY2(verified.err.contains("(clients answer 43|"), qPrintable(verified.err));
    // Nothing after the signature is what clients answer: they stop at it.
    QVERIFY2(!verified.err.contains("(clients answer 41|"), qPrintable(verified.err));
    if (key.isEmpty())
        QCOMPARE(moduleResult(package), 43);
}

void TestZtxChecks::inspectListsThePackage()
{
    const QString package = path("inspected.ztx");
    QVERIFY(run(ztxPath(), packArguments(m_source, package)).exitCode == 0);
    const qint64 size = QFileInfo(package).size();

    const Run text = run(ztxPath(), {"inspect", package});
    QCOMPARE(text.exitCode, 0);
    for (const QString& line :
         {QStringLiteral("\nsize +%1 bytes \\(clients accept at most 10485760\\)\n").arg(size),
          QStringLiteral("\ntrailer +273 bytes, holding a 256-byte signature\n"),
          QStringLiteral("\n  -rw-r--r-- +10  app.txt\n"), QStringLiteral("\n  drwxr-xr-x +0  bin/\n"),
          QStringLiteral("\n  -rwxr-xr-x +300  bin/tool\n"), QStringLiteral("\nsignature +good\n"),
          QStringLiteral("\nverdict +accepted: clients install this package\n")}) {
        QVERIFY2(text.out.contains(QRegularExpression(line)), qPrintable(line + "\n---\n" + text.out));
    }

    const Run json = run(ztxPath(), {"inspect", package, "--json"});
    QCOMPARE(json.exitCode, 0);
    QJsonParseError error;
    const QJsonObject root = QJsonDocument::fromJson(json.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(qint64(root.value("size").toDouble()), size);
    QCOMPARE(root.value("archiveSize").toInt() + root.value("trailerSize").toInt(), int(size));
    QCOMPARE(root.value("signatureSize").toInt(), 256);
    QCOMPARE(root.value("signature").toString(), QStringLiteral("good"));
    QCOMPARE(root.value("key").toObject().value("testKey").toBool(), true);
    QStringList entries;
    for (const QJsonValue& value : root.value("entries").toArray()) {
        const QJsonObject entry = value.toObject();
        entries << QStringLiteral("%1 %2 %3 %4")
                       .arg(entry.value("type").toString(), entry.value("mode").toString(), entry.value("name").toString())
                       .arg(entry.value("size").toInt());
    }
    QCOMPARE(entries, (QStringList {"file 0644 app.txt 10", "folder 0755 bin/ 0", "file 0755 bin/tool 300"}));
}

void TestZtxChecks::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    for (const char* command : {"keygen", "pack", "sign", "verify", "inspect"}) {
        const QString name = QLatin1String(command);
        QTest::newRow(qPrintable(name + " --help")) << QStringList {name, "--help"} << 0 << "usage: ztx " + name;
        QTest::newRow(qPrintable("help " + name)) << QStringList {"help", name} << 0 << "exit codes:";
    }
    QTest::newRow("--help") << QStringList {"--help"} << 0 << "3  refused: what clients would refuse";
    QTest::newRow("--version") << QStringList {"--version"} << 0 << "ztx " UPDATER_VERSION;
    QTest::newRow("pack --version") << QStringList {"pack", "--version"} << 0 << "built-in key SHA256:";
    QTest::newRow("unknown option") << QStringList {"pack", "--bogus"} << 2 << "Unknown option 'bogus'";
    QTest::newRow("option of another command") << QStringList {"verify", "x.ztx", "--force"} << 2 << "Unknown option";
    QTest::newRow("missing value") << QStringList {"verify", "x.ztx", "--key"} << 2 << "Missing value after '--key'";
    QTest::newRow("missing output") << QStringList {"pack", "folder", "--key", "k.pem"} << 2 << "pack needs";
    QTest::newRow("key given twice") << QStringList {"verify", "x.ztx", "-k", "a", "-k", "b"} << 2
                                     << "--key given more than once";
    QTest::newRow("unknown command") << QStringList {"unpack"} << 2 << "unknown command unpack";
    QTest::newRow("missing package") << QStringList {"verify", "no-such.ztx"} << 4 << "no such file";
}

void TestZtxChecks::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const Run result = run(ztxPath(), arguments);
    QCOMPARE(result.exitCode, exitCode);
    const QString text = exitCode == 0 ? result.out : result.err;
    QVERIFY2(text.contains(output), qPrintable(result.out + result.err));
}

QTEST_GUILESS_MAIN(TestZtxChecks)
#include "tst_ztx_checks.moc"
