// ztx: makes and checks signed update packages (a zip archive followed by the
// signature trailer the module verifies).
//
//   ztx keygen --out DIR
//   ztx pack SOURCE_DIR --key PRIVATE.pem -o PACKAGE.ztx
//   ztx sign ARCHIVE.zip --key PRIVATE.pem -o PACKAGE.ztx
//   ztx verify PACKAGE.ztx [--key PUBLIC.pem] [--verbose]

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QTemporaryDir>

#include <quazip/JlCompress.h>
#include <quazip/quazip.h>

#include <log4cpp/Category.hh>
#include <log4cpp/OstreamAppender.hh>
#include <log4cpp/PatternLayout.hh>

#include <openssl/evp.h>

#include <cstdio>
#include <iostream>

#include <updater/updater.h>

#include "PackageKeys.h"
#include "verification/ModuleReader.h"
#include "verification/SignatureCheck.h"
#include "verification/SignatureTrailer.h"

namespace {

const char* const Usage =
    "usage:\n"
    "  ztx keygen --out DIR\n"
    "      make a new RSA-2048 key pair: DIR/private.pem and DIR/public.pem\n"
    "  ztx pack SOURCE_DIR --key PRIVATE.pem -o PACKAGE.ztx\n"
    "      zip the folder (paths relative to it, subfolders included) and sign it\n"
    "  ztx sign ARCHIVE.zip --key PRIVATE.pem -o PACKAGE.ztx\n"
    "      sign an existing zip archive\n"
    "  ztx verify PACKAGE.ztx [--key PUBLIC.pem] [--verbose]\n"
    "      check a package's signature (default key: the one built into the module)\n";

enum ExitCode { Success = 0, Failure = 1, UsageError = 2 };

void say(const QString& text)
{
    std::fprintf(stdout, "ztx: %s\n", text.toLocal8Bit().constData());
}

int fail(const QString& text)
{
    std::fprintf(stderr, "ztx: error: %s\n", text.toLocal8Bit().constData());
    return Failure;
}

int usage(const QString& text)
{
    std::fprintf(stderr, "ztx: %s\n%s", text.toLocal8Bit().constData(), Usage);
    return UsageError;
}

struct Arguments {
    QStringList positional;
    QString key;
    QString output;
    bool verbose = false;
    QString error;
};

Arguments parse(const QStringList& list)
{
    Arguments arguments;
    for (int i = 0; i < list.size(); ++i) {
        const QString& argument = list.at(i);
        auto value = [&](QString& target) {
            if (i + 1 >= list.size())
                arguments.error = argument + QStringLiteral(" needs a value");
            else
                target = list.at(++i);
        };
        if (argument == QLatin1String("--key") || argument == QLatin1String("-k"))
            value(arguments.key);
        else if (argument == QLatin1String("-o") || argument == QLatin1String("--out"))
            value(arguments.output);
        else if (argument == QLatin1String("--verbose") || argument == QLatin1String("-v"))
            arguments.verbose = true;
        else if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1)
            arguments.error = QStringLiteral("unknown option ") + argument;
        else
            arguments.positional << argument;
    }
    return arguments;
}

// Signs the archive bytes and writes archive + trailer to the output path.
int writePackage(const QByteArray& archive, const QString& keyPath, const QString& outputPath)
{
    QString error;
    EVP_PKEY* key = PackageKeys::loadPrivateKey(keyPath, error);
    if (!key)
        return fail(error);
    const QByteArray signature = PackageKeys::sign(key, archive, error);
    const bool builtIn = PackageKeys::isBuiltInKey(key);
    EVP_PKEY_free(key);
    if (signature.isEmpty())
        return fail(error);

    QSaveFile output(outputPath);
    const QByteArray trailer = SignatureTrailer::encode(signature);
    if (!output.open(QIODevice::WriteOnly) || output.write(archive) != archive.size() ||
        output.write(trailer) != trailer.size() || !output.commit()) {
        return fail(QStringLiteral("cannot write %1: %2").arg(outputPath, output.errorString()));
    }
    const qint64 size = qint64(archive.size()) + trailer.size();
    say(QStringLiteral("wrote %1 (%2 bytes)").arg(outputPath).arg(size));
    if (size > updater::MaxPackageSize)
        std::fprintf(stderr, "ztx: warning: the package is larger than the %lld bytes the module accepts\n",
                     static_cast<long long>(updater::MaxPackageSize));
    if (!builtIn)
        std::fprintf(stderr, "ztx: note: this key is not the one built into this module\n");
    return Success;
}

int keygen(const Arguments& arguments)
{
    if (!arguments.positional.isEmpty() || arguments.output.isEmpty() || !arguments.key.isEmpty())
        return usage(QStringLiteral("keygen takes --out DIR only"));
    QString error;
    if (!PackageKeys::generate(arguments.output, error))
        return fail(error);
    say(QStringLiteral("wrote %1 and %2 (keep the private key secret)")
            .arg(QDir(arguments.output).filePath(QStringLiteral("private.pem")),
                 QDir(arguments.output).filePath(QStringLiteral("public.pem"))));
    return Success;
}

int pack(const Arguments& arguments)
{
    if (arguments.positional.size() != 1 || arguments.key.isEmpty() || arguments.output.isEmpty())
        return usage(QStringLiteral("pack needs SOURCE_DIR, --key and -o"));
    const QString source = arguments.positional.first();
    if (!QFileInfo(source).isDir())
        return fail(QStringLiteral("%1 is not a folder").arg(source));
    QDirIterator files(source, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    if (!files.hasNext())
        return fail(QStringLiteral("%1 holds no files").arg(source));

    QTemporaryDir work;
    if (!work.isValid())
        return fail(QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    const QString zipPath = work.filePath(QStringLiteral("package.zip"));
    if (!JlCompress::compressDir(zipPath, QFileInfo(source).absoluteFilePath(), true, QDir::Hidden | QDir::System))
        return fail(QStringLiteral("cannot zip %1").arg(source));
    QFile zip(zipPath);
    if (!zip.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read the archive: ") + zip.errorString());
    return writePackage(zip.readAll(), arguments.key, arguments.output);
}

int sign(const Arguments& arguments)
{
    if (arguments.positional.size() != 1 || arguments.key.isEmpty() || arguments.output.isEmpty())
        return usage(QStringLiteral("sign needs ARCHIVE.zip, --key and -o"));
    const QString archivePath = arguments.positional.first();
    QFile file(archivePath);
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("cannot read %1: %2").arg(archivePath, file.errorString()));
    const QByteArray archive = file.readAll();
    file.close();
    // The module unpacks what it verifies: refuse what is not a zip archive.
    QuaZip zip(archivePath);
    if (!zip.open(QuaZip::mdUnzip))
        return fail(QStringLiteral("%1 is not a zip archive").arg(archivePath));
    zip.close();
    return writePackage(archive, arguments.key, arguments.output);
}

int verify(const Arguments& arguments)
{
    if (arguments.positional.size() != 1 || !arguments.output.isEmpty())
        return usage(QStringLiteral("verify needs PACKAGE.ztx and takes --key and --verbose only"));
    const QString packagePath = arguments.positional.first();
    if (!QFileInfo(packagePath).isFile())
        return fail(QStringLiteral("no such file: %1").arg(packagePath));

    if (arguments.verbose) {
        // The reader's own account of the trailer.
        auto* appender = new log4cpp::OstreamAppender("ztx", &std::cerr);
        auto* layout = new log4cpp::PatternLayout();
        layout->setConversionPattern("%p %m%n");
        appender->setLayout(layout);
        log4cpp::Category::getInstance("moduleTools").addAppender(appender);
    }

    SignatureCheck::takeOldestErrorText();
    ModuleReader reader(packagePath, false);
    if (!reader.isRead())
        return fail(QStringLiteral("%1 has no readable signature trailer").arg(packagePath));

    bool valid = false;
    if (arguments.key.isEmpty()) {
        valid = reader.verify(true);
    } else {
        QString error;
        EVP_PKEY* key = PackageKeys::loadPublicKey(arguments.key, error);
        if (!key)
            return fail(error);
        valid = SignatureCheck::verify(key, reader.moduleData(), reader.signature());
        EVP_PKEY_free(key);
    }
    if (!valid) {
        return fail(QStringLiteral("%1 does NOT verify: %2").arg(packagePath, SignatureCheck::takeOldestErrorText()));
    }
    say(QStringLiteral("%1: signature OK (%2 bytes signed, %3-byte signature)")
            .arg(packagePath)
            .arg(reader.moduleData().size())
            .arg(reader.signature().size()));
    return Success;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList list = QCoreApplication::arguments().mid(1);
    if (list.isEmpty())
        return usage(QStringLiteral("no command"));
    const QString command = list.takeFirst();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        std::fputs(Usage, stdout);
        return Success;
    }
    const Arguments arguments = parse(list);
    if (!arguments.error.isEmpty())
        return usage(arguments.error);
    if (command == QLatin1String("keygen"))
        return keygen(arguments);
    if (command == QLatin1String("pack"))
        return pack(arguments);
    if (command == QLatin1String("sign"))
        return sign(arguments);
    if (command == QLatin1String("verify"))
        return verify(arguments);
    return usage(QStringLiteral("unknown command ") + command);
}
