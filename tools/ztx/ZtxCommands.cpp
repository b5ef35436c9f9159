#include "ZtxCommands.h"

#include "ArchiveWriter.h"
#include "ExitCode.h"
#include "OutputTarget.h"
#include "PackageAnalysis.h"
#include "PackageContents.h"
#include "PackageKeys.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>

#include <cstdio>
#include <iostream>

#include <updater/updater.h>
#include <updater/version.h>

#include "module/ResultTexts.h"
#include "verification/OpenSslPointer.h"
#include "verification/SignatureTrailer.h"
#include "verification/VerificationKey.h"

namespace {

void say(const QString& text)
{
    std::fprintf(stdout, "ztx: %s\n", text.toLocal8Bit().constData());
}

void note(const QString& text)
{
    std::fprintf(stderr, "ztx: note: %s\n", text.toLocal8Bit().constData());
}

void warn(const QString& text)
{
    std::fprintf(stderr, "ztx: warning: %s\n", text.toLocal8Bit().constData());
}

int fail(int exitCode, const QString& text)
{
    std::fprintf(stderr, "ztx: error: %s\n", text.toLocal8Bit().constData());
    return exitCode;
}

int refuse(const QString& text)
{
    std::fprintf(stderr, "ztx: refused: %s\n", text.toLocal8Bit().constData());
    return Refused;
}

int usage(const char* command, const QString& text)
{
    std::fprintf(stderr, "ztx: %s\nztx: see 'ztx %s --help'\n", text.toLocal8Bit().constData(), command);
    return UsageError;
}

// Loud, because a package signed with this key can be forged by anyone.
void warnAboutTestKey(const QString& fingerprint, const char* use)
{
    const char* const rule = "ztx: WARNING: ************************************************************\n";
    std::fprintf(stderr,
                 "%s"
                 "ztx: WARNING: %s the project's TEST key\n"
                 "ztx: WARNING: %s\n"
                 "ztx: WARNING: Its private half is in the repository: anyone can sign packages\n"
                 "ztx: WARNING: with it. Never publish such a package, and never ship a module\n"
                 "ztx: WARNING: built with this key.\n"
                 "%s",
                 rule, use, fingerprint.toLatin1().constData(), rule);
}

// What clients answer for a result code, word for word.
QString clientAnswer(int resultCode)
{
    switch (resultCode) {
    case updater::FileOversized:
        return QString::fromUtf8(ResultTexts::fileOversized().serialize());
    case updater::VerificationError:
        return QString::fromUtf8(ResultTexts::verificationError().serialize());
    case updater::FileSystemError:
        return QString::fromUtf8(ResultTexts::fileSystemError().serialize());
    default:
        return QString::fromUtf8(ResultTexts::fileUpdated().serialize());
    }
}

// firstAnswer: what clients answer for the package as a whole, from its
// first problem. A problem further on is never reached by them: they give
// that first answer instead of its own.
QString problemText(const PackageCheck::Problem& problem, int firstAnswer)
{
    const QString where = problem.entry.isEmpty() ? QString() : problem.entry + QStringLiteral(": ");
    if (firstAnswer != updater::Success && firstAnswer != problem.clientResult)
        return QStringLiteral("%1%2 (clients answer %3 before they get this far)")
            .arg(where, problem.reason, clientAnswer(firstAnswer));
    return QStringLiteral("%1%2 (clients answer %3)").arg(where, problem.reason, clientAnswer(problem.clientResult));
}

QString counted(qint64 count, const char* singular, const char* plural)
{
    return QStringLiteral("%1 %2").arg(count).arg(QLatin1String(count == 1 ? singular : plural));
}

// "5 entries (3 files, 1 folder, 1 link; 2345 bytes unpacked)"
QString entryCountsText(const PackageContents& contents)
{
    return QStringLiteral("%1 (%2, %3, %4; %5 unpacked)")
        .arg(counted(contents.entries().size(), "entry", "entries"),
             counted(contents.count(PackageContents::File), "file", "files"),
             counted(contents.count(PackageContents::Folder), "folder", "folders"),
             counted(contents.count(PackageContents::Link), "link", "links"),
             counted(contents.unpackedSize(), "byte", "bytes"));
}

bool isReadableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isReadable();
}

// A key to sign with: its fingerprint, whether the module has it built in.
struct SigningKey {
    OpenSslPointer<EVP_PKEY> key;
    QString fingerprint;
    bool builtIn = false;
};

// Loads the private key and says which key it is. A key other than the
// built-in one makes packages that this build's clients refuse: refused
// unless the publisher says the clients were built with it elsewhere.
int loadSigningKey(const ZtxCommands::Options& options, SigningKey* signingKey)
{
    if (!isReadableFile(options.key))
        return fail(Failure, QStringLiteral("cannot read the key %1").arg(options.key));
    QString error;
    signingKey->key = PackageKeys::loadPrivateKey(options.key, error);
    if (!signingKey->key)
        return refuse(error);
    signingKey->fingerprint = PackageKeys::fingerprint(signingKey->key.get());
    signingKey->builtIn = PackageKeys::isBuiltInKey(signingKey->key.get());
    say(QStringLiteral("signing key %1 (%2)%3")
            .arg(signingKey->fingerprint, options.key,
                 signingKey->builtIn ? QStringLiteral(", the key built into this ztx") : QString()));
    if (PackageKeys::isTestKey(signingKey->fingerprint))
        warnAboutTestKey(signingKey->fingerprint, "signing with");
    if (!signingKey->builtIn) {
        const QString text = QStringLiteral("%1 is not the key built into this ztx and its module (%2): clients "
                                            "built with that module answer %3")
                                 .arg(options.key, PackageKeys::builtInFingerprint(),
                                      clientAnswer(updater::VerificationError));
        if (!options.allowOtherKey)
            return refuse(text + QStringLiteral("; give --allow-other-key if the clients' module was built with "
                                                "this key"));
        warn(text);
    }
    return Success;
}

// Signs the archive, judges the package exactly as it will be written, and
// writes it only when clients would accept it.
int signCheckAndWrite(const QByteArray& archive, const SigningKey& signingKey, const OutputTarget& output,
                      const QStringList& inputs, const QTemporaryDir& work)
{
    QString error;
    const QByteArray signature = PackageKeys::sign(signingKey.key.get(), archive, error);
    if (signature.isEmpty())
        return fail(Failure, error);
    const QByteArray package = archive + SignatureTrailer::encode(signature);

    const QString candidate = work.filePath(QStringLiteral("candidate.ztx"));
    QFile file(candidate);
    if (!file.open(QIODevice::WriteOnly) || file.write(package) != package.size() || !file.flush())
        return fail(Failure, QStringLiteral("cannot write a temporary copy of the package: ") + file.errorString());
    file.close();

    PackageAnalysis analysis(candidate, signingKey.key.get(), signingKey.builtIn);
    if (!analysis.run())
        return fail(Failure, analysis.error());
    if (analysis.signatureVerdict() != SignatureDiagnosis::Good)
        return fail(Failure, QStringLiteral("the new package does not verify"));
    const QList<PackageCheck::Problem> problems = analysis.problems();
    for (const PackageCheck::Problem& problem : problems)
        refuse(problemText(problem, analysis.clientResult()));
    if (!problems.isEmpty())
        return Refused;
    for (const QString& text : analysis.notes())
        note(text);

    // Looked at again: packing took a while, and the output may have changed.
    const QString refusal = output.refusal(inputs);
    if (!refusal.isEmpty())
        return refuse(refusal);
    if (!output.write(package, &error))
        return fail(Failure, error);
    say(QStringLiteral("wrote %1: %2 bytes, a %3-byte archive of %4 and a %5-byte signature")
            .arg(output.path())
            .arg(package.size())
            .arg(archive.size())
            .arg(entryCountsText(analysis.contents()))
            .arg(signature.size()));
    return Success;
}

// The key to verify with: --key, or the one built into the module.
struct VerifyingKey {
    OpenSslPointer<EVP_PKEY> key;
    QString fingerprint;
    QString source;
    bool builtIn = false;
};

int loadVerifyingKey(const ZtxCommands::Options& options, VerifyingKey* verifyingKey)
{
    if (options.key.isEmpty()) {
        verifyingKey->key = VerificationKey::createBuiltInKey();
        verifyingKey->source = QStringLiteral("built into this ztx");
        verifyingKey->builtIn = true;
    } else {
        if (!isReadableFile(options.key))
            return fail(Failure, QStringLiteral("cannot read the key %1").arg(options.key));
        QString error;
        verifyingKey->key = PackageKeys::loadPublicKey(options.key, error);
        if (!verifyingKey->key)
            return refuse(error);
        verifyingKey->source = options.key;
        verifyingKey->builtIn = PackageKeys::isBuiltInKey(verifyingKey->key.get());
    }
    if (!verifyingKey->key)
        return fail(Failure, QStringLiteral("the built-in key cannot be loaded"));
    verifyingKey->fingerprint = PackageKeys::fingerprint(verifyingKey->key.get());
    return Success;
}

// Which key, if not the one given, the package was signed with: the only
// other one known here is the built-in key.
// What verify and inspect start with: the one package named, readable, and
// the key to check it with. Success, or the exit code to end with.
int openPackageAndKey(const ZtxCommands::Options& options, const char* command, QString* packagePath,
                      VerifyingKey* verifyingKey)
{
    if (options.positional.size() != 1)
        return usage(command, QStringLiteral("%1 needs one PACKAGE.ztx").arg(QLatin1String(command)));
    *packagePath = options.positional.first();
    if (!isReadableFile(*packagePath))
        return fail(Failure, QFileInfo::exists(*packagePath) ? QStringLiteral("cannot read %1").arg(*packagePath)
                                                             : QStringLiteral("no such file: %1").arg(*packagePath));
    return loadVerifyingKey(options, verifyingKey);
}

QString otherSigner(const PackageAnalysis& analysis, const VerifyingKey& verifyingKey)
{
    if (verifyingKey.builtIn)
        return QString();
    const OpenSslPointer<EVP_PKEY> builtIn = VerificationKey::createBuiltInKey();
    if (SignatureDiagnosis::diagnose(builtIn.get(), analysis.archive(), analysis.signature()) ==
        SignatureDiagnosis::Good)
        return QStringLiteral("the key built into this ztx (%1)").arg(PackageKeys::builtInFingerprint());
    return QString();
}

QString signatureText(const PackageAnalysis& analysis, const VerifyingKey& verifyingKey)
{
    if (!analysis.trailerRead())
        return QStringLiteral("missing: the package has no readable signature trailer");
    switch (analysis.signatureVerdict()) {
    case SignatureDiagnosis::Good:
        return QStringLiteral("good");
    case SignatureDiagnosis::DataChanged:
        return QStringLiteral("made with this key, but the archive changed after signing (damaged or altered)");
    case SignatureDiagnosis::OtherKey:
        break;
    }
    const QString signer = otherSigner(analysis, verifyingKey);
    if (!signer.isEmpty())
        return QStringLiteral("made with another key: %1").arg(signer);
    return QStringLiteral("not made with this key (made with another key, or the signature itself is damaged)");
}

void showModuleReaderLog()
{
    auto* appender = new log4cpp::OstreamAppender("ztx", &std::cerr);
    auto* layout = new log4cpp::PatternLayout();
    layout->setConversionPattern("%p %m%n");
    appender->setLayout(layout);
    log4cpp::Category::getInstance("moduleTools").addAppender(appender);
}

QString verdictText(const PackageAnalysis& analysis)
{
    const int result = analysis.clientResult();
    if (result == updater::Success)
        return QStringLiteral("accepted: clients install this package");
    return QStringLiteral("refused: clients answer %1").arg(clientAnswer(result));
}

const char* typeName(PackageContents::Type type)
{
    switch (type) {
    case PackageContents::Folder:
        return "folder";
    case PackageContents::Link:
        return "link";
    case PackageContents::File:
        break;
    }
    return "file";
}

void printInspectionText(const QString& packagePath, const PackageAnalysis& analysis,
                         const VerifyingKey& verifyingKey)
{
    QString text;
    auto line = [&text](const char* label, const QString& value) {
        text += QStringLiteral("%1 %2\n").arg(QLatin1String(label), -10).arg(value);
    };
    line("package", packagePath);
    line("size", QStringLiteral("%1 bytes (clients accept at most %2)")
                     .arg(analysis.packageSize())
                     .arg(updater::MaxPackageSize));
    const PackageContents& contents = analysis.contents();
    if (analysis.trailerRead()) {
        line("archive", QStringLiteral("%1 bytes, %2").arg(analysis.archive().size()).arg(entryCountsText(contents)));
        line("trailer", QStringLiteral("%1 bytes, holding a %2-byte signature")
                            .arg(analysis.packageSize() - analysis.archive().size())
                            .arg(analysis.signature().size()));
    } else {
        line("archive", contents.entries().isEmpty() && !analysis.contentsRead()
                            ? QStringLiteral("not readable")
                            : entryCountsText(contents));
        line("trailer", QStringLiteral("none that can be read"));
    }
    line("key", QStringLiteral("%1 (%2)").arg(verifyingKey.fingerprint, verifyingKey.source));
    line("signature", signatureText(analysis, verifyingKey));
    if (!contents.entries().isEmpty()) {
        text += QStringLiteral("entries\n");
        for (const PackageContents::Entry& entry : contents.entries()) {
            QString name = entry.name;
            if (entry.type == PackageContents::Link)
                name += QStringLiteral(" -> ") + entry.linkTarget;
            text += QStringLiteral("  %1 %2  %3\n").arg(PackageContents::modeText(entry)).arg(entry.size, 10).arg(name);
        }
    }
    const QList<PackageCheck::Problem> problems = analysis.problems();
    if (!problems.isEmpty()) {
        text += QStringLiteral("problems\n");
        for (const PackageCheck::Problem& problem : problems)
            text += QStringLiteral("  ") + problemText(problem, analysis.clientResult()) + QLatin1Char('\n');
    }
    if (!analysis.notes().isEmpty()) {
        text += QStringLiteral("notes\n");
        for (const QString& item : analysis.notes())
            text += QStringLiteral("  ") + item + QLatin1Char('\n');
    }
    line("verdict", verdictText(analysis));
    std::fputs(text.toLocal8Bit().constData(), stdout);
}

void printInspectionJson(const QString& packagePath, const PackageAnalysis& analysis,
                         const VerifyingKey& verifyingKey)
{
    QJsonObject root;
    root.insert(QStringLiteral("package"), packagePath);
    root.insert(QStringLiteral("size"), double(analysis.packageSize()));
    root.insert(QStringLiteral("sizeLimit"), double(updater::MaxPackageSize));
    if (analysis.trailerRead()) {
        root.insert(QStringLiteral("archiveSize"), analysis.archive().size());
        root.insert(QStringLiteral("trailerSize"), double(analysis.packageSize() - analysis.archive().size()));
        root.insert(QStringLiteral("signatureSize"), analysis.signature().size());
    } else {
        root.insert(QStringLiteral("archiveSize"), QJsonValue());
        root.insert(QStringLiteral("trailerSize"), QJsonValue());
        root.insert(QStringLiteral("signatureSize"), QJsonValue());
    }

    QJsonObject key;
    key.insert(QStringLiteral("fingerprint"), verifyingKey.fingerprint);
    key.insert(QStringLiteral("source"), verifyingKey.source);
    key.insert(QStringLiteral("builtIn"), verifyingKey.builtIn);
    key.insert(QStringLiteral("testKey"), PackageKeys::isTestKey(verifyingKey.fingerprint));
    root.insert(QStringLiteral("key"), key);

    QString signature;
    if (!analysis.trailerRead())
        signature = QStringLiteral("missing");
    else if (analysis.signatureVerdict() == SignatureDiagnosis::Good)
        signature = QStringLiteral("good");
    else if (analysis.signatureVerdict() == SignatureDiagnosis::DataChanged)
        signature = QStringLiteral("archive changed");
    else
        signature = QStringLiteral("other key");
    root.insert(QStringLiteral("signature"), signature);
    root.insert(QStringLiteral("signatureText"), signatureText(analysis, verifyingKey));

    const PackageContents& contents = analysis.contents();
    QJsonArray entries;
    for (const PackageContents::Entry& entry : contents.entries()) {
        QJsonObject item;
        item.insert(QStringLiteral("name"), entry.name);
        item.insert(QStringLiteral("type"), QLatin1String(typeName(entry.type)));
        item.insert(QStringLiteral("mode"), QStringLiteral("%1").arg(entry.mode, 4, 8, QLatin1Char('0')));
        item.insert(QStringLiteral("size"), double(entry.size));
        item.insert(QStringLiteral("compressedSize"), double(entry.compressedSize));
        if (entry.type == PackageContents::Link)
            item.insert(QStringLiteral("target"), entry.linkTarget);
        entries.append(item);
    }
    root.insert(QStringLiteral("entries"), entries);
    root.insert(QStringLiteral("files"), contents.count(PackageContents::File));
    root.insert(QStringLiteral("folders"), contents.count(PackageContents::Folder));
    root.insert(QStringLiteral("links"), contents.count(PackageContents::Link));
    root.insert(QStringLiteral("unpackedSize"), double(contents.unpackedSize()));

    QJsonArray problems;
    for (const PackageCheck::Problem& problem : analysis.problems()) {
        QJsonObject item;
        item.insert(QStringLiteral("entry"), problem.entry.isEmpty() ? QJsonValue() : QJsonValue(problem.entry));
        item.insert(QStringLiteral("reason"), problem.reason);
        item.insert(QStringLiteral("clientResult"), problem.clientResult);
        problems.append(item);
    }
    root.insert(QStringLiteral("problems"), problems);
    root.insert(QStringLiteral("notes"), QJsonArray::fromStringList(analysis.notes()));
    root.insert(QStringLiteral("accepted"), analysis.clientResult() == updater::Success);
    root.insert(QStringLiteral("clientResult"), analysis.clientResult());
    root.insert(QStringLiteral("clientAnswer"), clientAnswer(analysis.clientResult()));
    root.insert(QStringLiteral("exitCode"), analysis.exitCode());
    std::fputs(QJsonDocument(root).toJson(QJsonDocument::Indented).constData(), stdout);
}

} // namespace

int ZtxCommands::keygen(const Options& options)
{
    if (!options.positional.isEmpty() || options.output.isEmpty())
        return usage("keygen", QStringLiteral("keygen takes --out DIR and nothing else"));
    const QDir folder(options.output);
    const QString privatePath = folder.filePath(QStringLiteral("private.pem"));
    const QString publicPath = folder.filePath(QStringLiteral("public.pem"));
    if (QFileInfo::exists(privatePath) || QFileInfo::exists(publicPath))
        return refuse(QStringLiteral("%1 already holds a key pair; it is never overwritten").arg(options.output));
    QString error;
    if (!PackageKeys::generate(options.output, error))
        return fail(Failure, error);
    const OpenSslPointer<EVP_PKEY> key = PackageKeys::loadPublicKey(publicPath, error);
    if (!key)
        return fail(Failure, error);
    say(QStringLiteral("wrote %1 and %2 (keep the private key secret)").arg(privatePath, publicPath));
    say(QStringLiteral("key fingerprint %1").arg(PackageKeys::fingerprint(key.get())));
    say(QStringLiteral("build the module with it: cmake -DUPDATER_PUBLIC_KEY=%1 ...")
            .arg(QFileInfo(publicPath).absoluteFilePath()));
    return Success;
}

int ZtxCommands::pack(const Options& options)
{
    if (options.positional.size() != 1 || options.key.isEmpty() || options.output.isEmpty())
        return usage("pack", QStringLiteral("pack needs SOURCE_DIR, --key and -o"));
    const QString source = options.positional.first();
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isDir())
        return fail(Failure, sourceInfo.exists() ? QStringLiteral("%1 is not a folder").arg(source)
                                                 : QStringLiteral("no such folder: %1").arg(source));
    if (!sourceInfo.isReadable() || !sourceInfo.isExecutable())
        return fail(Failure, QStringLiteral("cannot read the folder %1").arg(source));
    const OutputTarget output(options.output, options.force);
    const QString refusal = output.refusal({options.key});
    if (!refusal.isEmpty())
        return refuse(refusal);
    SigningKey signingKey;
    const int loaded = loadSigningKey(options, &signingKey);
    if (loaded != Success)
        return loaded;

    QTemporaryDir work;
    if (!work.isValid())
        return fail(Failure, QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    const QString archivePath = work.filePath(QStringLiteral("package.zip"));
    ArchiveWriter writer(source, output);
    const qint64 archiveLimit = updater::MaxPackageSize - SignatureTrailer::FixedLength -
                                SignatureTrailer::MaxSignatureSize;
    switch (writer.write(archivePath, archiveLimit)) {
    case ArchiveWriter::Written:
        break;
    case ArchiveWriter::TooLarge:
        return refuse(QStringLiteral("%1: %2; with its signature trailer the package would be over the limit of %3 "
                                     "bytes that clients accept (clients answer %4); the largest: %5")
                          .arg(writer.entry(), writer.reason())
                          .arg(updater::MaxPackageSize)
                          .arg(clientAnswer(updater::FileOversized), writer.largestEntries()));
    case ArchiveWriter::Refused:
        // Without an entry: the folder as a whole is over what clients unpack.
        if (writer.entry().isEmpty())
            return refuse(QStringLiteral("%1 (clients answer %2)")
                              .arg(writer.reason(), clientAnswer(updater::FileSystemError)));
        return refuse(writer.entry() + QStringLiteral(": ") + writer.reason());
    case ArchiveWriter::Failed:
        return fail(Failure, writer.entry().isEmpty() ? writer.reason()
                                                      : writer.entry() + QStringLiteral(": ") + writer.reason());
    }
    if (writer.leftOutOutput())
        note(QStringLiteral("%1 lies inside %2: left out of the package").arg(options.output, source));

    const QString empty = QStringLiteral("%1 holds no files: the package would install nothing").arg(source);
    if (writer.entryCount() == 0)
        return refuse(empty);
    PackageContents contents;
    if (!contents.read(archivePath))
        return fail(Failure, QStringLiteral("the new archive cannot be read: ") + contents.error());
    if (contents.count(PackageContents::File) + contents.count(PackageContents::Link) == 0)
        return refuse(empty);

    QFile archive(archivePath);
    if (!archive.open(QIODevice::ReadOnly))
        return fail(Failure, QStringLiteral("cannot read the archive: ") + archive.errorString());
    return signCheckAndWrite(archive.readAll(), signingKey, output, {options.key}, work);
}

int ZtxCommands::sign(const Options& options)
{
    if (options.positional.size() != 1 || options.key.isEmpty() || options.output.isEmpty())
        return usage("sign", QStringLiteral("sign needs ARCHIVE.zip, --key and -o"));
    const QString archivePath = options.positional.first();
    if (!isReadableFile(archivePath))
        return fail(Failure, QStringLiteral("cannot read %1").arg(archivePath));
    const OutputTarget output(options.output, options.force);
    const QString refusal = output.refusal({options.key, archivePath});
    if (!refusal.isEmpty())
        return refuse(refusal);
    // The module unpacks what it verifies: refuse what is not a zip archive.
    PackageContents contents;
    if (!contents.read(archivePath))
        return refuse(QStringLiteral("%1 is not a zip archive: %2").arg(archivePath, contents.error()));
    SigningKey signingKey;
    const int loaded = loadSigningKey(options, &signingKey);
    if (loaded != Success)
        return loaded;

    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly))
        return fail(Failure, QStringLiteral("cannot read %1: %2").arg(archivePath, file.errorString()));
    if (file.size() + SignatureTrailer::FixedLength + SignatureTrailer::MaxSignatureSize > updater::MaxPackageSize) {
        return refuse(QStringLiteral("%1 is %2 bytes: with its signature the package would be over the limit of %3 "
                                     "bytes that clients accept")
                          .arg(archivePath)
                          .arg(file.size())
                          .arg(updater::MaxPackageSize));
    }
    QTemporaryDir work;
    if (!work.isValid())
        return fail(Failure, QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    return signCheckAndWrite(file.readAll(), signingKey, output, {options.key, archivePath}, work);
}

int ZtxCommands::verify(const Options& options)
{
    QString packagePath;
    VerifyingKey verifyingKey;
    const int opened = openPackageAndKey(options, "verify", &packagePath, &verifyingKey);
    if (opened != Success)
        return opened;
    say(QStringLiteral("key %1 (%2)").arg(verifyingKey.fingerprint, verifyingKey.source));
    if (PackageKeys::isTestKey(verifyingKey.fingerprint))
        warnAboutTestKey(verifyingKey.fingerprint, "verifying with");
    if (!verifyingKey.builtIn)
        note(QStringLiteral("this is not the key built into this ztx (%1)").arg(PackageKeys::builtInFingerprint()));
    if (options.verbose)
        showModuleReaderLog();

    PackageAnalysis analysis(packagePath, verifyingKey.key.get(), verifyingKey.builtIn);
    if (!analysis.run())
        return fail(Failure, analysis.error());

    const QList<PackageCheck::Problem> problems = analysis.problems();
    for (const PackageCheck::Problem& problem : problems) {
        if (problem.clientResult == updater::FileOversized)
            refuse(problemText(problem, analysis.clientResult()));
    }
    if (!analysis.trailerRead()) {
        fail(VerificationFailed, QStringLiteral("%1 has no readable signature trailer (clients answer %2)")
                                     .arg(packagePath, clientAnswer(updater::VerificationError)));
    } else if (analysis.signatureVerdict() != SignatureDiagnosis::Good) {
        fail(VerificationFailed, QStringLiteral("%1 does NOT verify with %2: signature %3 (clients answer %4)")
                                     .arg(packagePath, verifyingKey.fingerprint,
                                          signatureText(analysis, verifyingKey),
                                          clientAnswer(updater::VerificationError)));
    } else {
        say(QStringLiteral("%1: signature OK (%2 bytes signed, %3-byte signature)")
                .arg(packagePath)
                .arg(analysis.archive().size())
                .arg(analysis.signature().size()));
    }
    bool contentsAccepted = true;
    for (const PackageCheck::Problem& problem : problems) {
        if (problem.clientResult != updater::FileOversized) {
            refuse(problemText(problem, analysis.clientResult()));
            contentsAccepted = false;
        }
    }
    if (contentsAccepted)
        say(QStringLiteral("%1: %2 pass the module's entry check and unpack")
                .arg(packagePath, entryCountsText(analysis.contents())));
    for (const QString& text : analysis.notes())
        note(text);
    return analysis.exitCode();
}

int ZtxCommands::inspect(const Options& options)
{
    QString packagePath;
    VerifyingKey verifyingKey;
    const int opened = openPackageAndKey(options, "inspect", &packagePath, &verifyingKey);
    if (opened != Success)
        return opened;
    if (PackageKeys::isTestKey(verifyingKey.fingerprint))
        warnAboutTestKey(verifyingKey.fingerprint, "verifying with");

    PackageAnalysis analysis(packagePath, verifyingKey.key.get(), verifyingKey.builtIn);
    if (!analysis.run())
        return fail(Failure, analysis.error());
    if (options.json)
        printInspectionJson(packagePath, analysis, verifyingKey);
    else
        printInspectionText(packagePath, analysis, verifyingKey);
    return analysis.exitCode();
}

int ZtxCommands::version()
{
    const QString fingerprint = PackageKeys::builtInFingerprint();
    std::fprintf(stdout, "ztx %s\nbuilt-in key %s%s\n", UPDATER_VERSION, fingerprint.toLatin1().constData(),
                 PackageKeys::isTestKey(fingerprint) ? " (the project's TEST key: do not ship this build)" : "");
    return Success;
}
