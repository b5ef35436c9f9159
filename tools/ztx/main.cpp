// ztx: makes and checks signed update packages (a zip archive followed by the
// signature trailer the module verifies), and refuses what clients would
// refuse, by the module's own code.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <cstring>

#include "ExitCode.h"
#include "ZtxCommands.h"

namespace {

const char* const ExitCodes =
    "exit codes:\n"
    "  0  success\n"
    "  1  verification failed: no signature trailer, or a signature that does not\n"
    "     verify with the key\n"
    "  2  usage error\n"
    "  3  refused: what clients would refuse (over 10,485,760 bytes, an entry the\n"
    "     module refuses, a link that leads out, an empty package), a key unfit\n"
    "     for signing, or an output that must not be written over\n"
    "  4  failure: a file could not be read or written, or key generation failed\n";

const char* const Overview =
    "usage: ztx COMMAND [OPTIONS]\n"
    "       ztx COMMAND --help\n"
    "       ztx --version\n"
    "\n"
    "Makes and checks signed update packages.\n"
    "\n"
    "commands:\n"
    "  keygen   make a new RSA-2048 key pair\n"
    "  pack     zip a folder and sign it\n"
    "  sign     sign an existing zip archive\n"
    "  verify   check a package as clients check it\n"
    "  inspect  list what a package holds, with the verdict\n"
    "\n"
    "Keys are named by their fingerprint: SHA256: and the SHA-256 of the public\n"
    "key's DER form, as `openssl pkey -pubin -in public.pem -outform DER | sha256sum`\n"
    "prints it.\n"
    "\n";

struct Command {
    const char* name;
    const char* help;
    QStringList options; // long names of the options it takes
};

const QList<Command>& commands()
{
    static const QList<Command> list = {
        {"keygen",
         "usage: ztx keygen --out DIR\n"
         "\n"
         "Makes a new RSA-2048 key pair: DIR/private.pem (PKCS#8, readable by the owner\n"
         "only) and DIR/public.pem, and prints its fingerprint. An existing pair is\n"
         "never overwritten. Build the module with the public key\n"
         "(-DUPDATER_PUBLIC_KEY=DIR/public.pem) and sign with the private key.\n"
         "\n"
         "options:\n"
         "  -o, --out DIR           the folder for the two files (created when missing)\n",
         {"out"}},
        {"pack",
         "usage: ztx pack SOURCE_DIR --key PRIVATE.pem -o PACKAGE.ztx [--force]\n"
         "                [--allow-other-key]\n"
         "\n"
         "Zips the folder (entry names relative to it; subfolders, hidden files and\n"
         "symbolic links included, links stored as links), signs the archive and\n"
         "writes archive + signature trailer. Before anything is written the package\n"
         "is checked as clients check it: size limit, signature, the module's entry\n"
         "check, a trial unpacking. The output is left out of the package when it lies\n"
         "inside SOURCE_DIR.\n"
         "\n"
         "options:\n"
         "  -k, --key PRIVATE.pem   unencrypted RSA-2048 private key to sign with\n"
         "  -o, --out PACKAGE.ztx   the package to write\n"
         "  -f, --force             replace an existing package (never a device, FIFO,\n"
         "                          socket or folder, nor the key)\n"
         "      --allow-other-key   sign with a key that is not the one built into this\n"
         "                          ztx (for clients whose module was built with it)\n",
         {"key", "out", "force", "allow-other-key"}},
        {"sign",
         "usage: ztx sign ARCHIVE.zip --key PRIVATE.pem -o PACKAGE.ztx [--force]\n"
         "                [--allow-other-key]\n"
         "\n"
         "Signs an existing zip archive; the archive bytes are kept exactly. The\n"
         "package is checked as clients check it before it is written.\n"
         "\n"
         "options:\n"
         "  -k, --key PRIVATE.pem   unencrypted RSA-2048 private key to sign with\n"
         "  -o, --out PACKAGE.ztx   the package to write (never the archive itself)\n"
         "  -f, --force             replace an existing package\n"
         "      --allow-other-key   sign with a key that is not the one built into this\n"
         "                          ztx\n",
         {"key", "out", "force", "allow-other-key"}},
        {"verify",
         "usage: ztx verify PACKAGE.ztx [--key PUBLIC.pem] [--verbose]\n"
         "\n"
         "Checks a package as clients check it: the size limit, the signature (with\n"
         "PUBLIC.pem, or with the key built into this ztx), the entries and a trial\n"
         "unpacking. When the signature fails it tells, where it can, a package\n"
         "signed with another key from one whose archive changed after signing.\n"
         "\n"
         "options:\n"
         "  -k, --key PUBLIC.pem    the key to verify with (a private key's public half\n"
         "                          will do)\n"
         "  -v, --verbose           print the signature trailer reader's log lines\n",
         {"key", "verbose"}},
        {"inspect",
         "usage: ztx inspect PACKAGE.ztx [--key PUBLIC.pem] [--json]\n"
         "\n"
         "Lists the package: every entry with its mode and size, the archive, trailer\n"
         "and signature sizes, the key's fingerprint, what clients would find wrong,\n"
         "and the verdict. The exit code is the one verify gives.\n"
         "\n"
         "options:\n"
         "  -k, --key PUBLIC.pem    the key to verify with (default: the built-in key)\n"
         "      --json              print one JSON object instead, for scripts\n",
         {"key", "json"}},
    };
    return list;
}

const Command* findCommand(const QString& name)
{
    for (const Command& command : commands()) {
        if (name == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

void printOverview(std::FILE* stream)
{
    std::fputs(Overview, stream);
    std::fputs(ExitCodes, stream);
}

void printHelp(const Command& command)
{
    std::fputs(command.help, stdout);
    std::fputs("  -h, --help              this text\n"
               "      --version           the version and the built-in key\n\n",
               stdout);
    std::fputs(ExitCodes, stdout);
}

int usageError(const QString& text)
{
    std::fprintf(stderr, "ztx: %s\nztx: see 'ztx --help'\n", text.toLocal8Bit().constData());
    return UsageError;
}

int run(const Command& command, const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version(QStringLiteral("version"), QString());
    const QCommandLineOption key({QStringLiteral("k"), QStringLiteral("key")}, QString(), QStringLiteral("KEY"));
    const QCommandLineOption out({QStringLiteral("o"), QStringLiteral("out")}, QString(), QStringLiteral("PATH"));
    const QCommandLineOption force({QStringLiteral("f"), QStringLiteral("force")}, QString());
    const QCommandLineOption allowOtherKey(QStringLiteral("allow-other-key"), QString());
    const QCommandLineOption verbose({QStringLiteral("v"), QStringLiteral("verbose")}, QString());
    const QCommandLineOption json(QStringLiteral("json"), QString());
    parser.addOption(help);
    parser.addOption(version);
    auto takes = [&command](const QCommandLineOption& option) {
        return command.options.contains(option.names().constLast());
    };
    for (const QCommandLineOption& option : {key, out, force, allowOtherKey, verbose, json}) {
        if (takes(option))
            parser.addOption(option);
    }
    if (!parser.parse(QStringList(QStringLiteral("ztx")) + arguments)) {
        std::fprintf(stderr, "ztx %s: %s\nztx: see 'ztx %s --help'\n", command.name,
                     parser.errorText().toLocal8Bit().constData(), command.name);
        return UsageError;
    }
    if (parser.isSet(help)) {
        printHelp(command);
        return Success;
    }
    if (parser.isSet(version))
        return ZtxCommands::version();

    ZtxCommands::Options options;
    options.positional = parser.positionalArguments();
    // An option given twice is a mistake rather than a choice.
    for (const QCommandLineOption* option : {&key, &out}) {
        if (takes(*option) && parser.values(*option).size() > 1)
            return usageError(QStringLiteral("--%1 given more than once").arg(option->names().constLast()));
    }
    options.key = takes(key) ? parser.value(key) : QString();
    options.output = takes(out) ? parser.value(out) : QString();
    options.force = takes(force) && parser.isSet(force);
    options.allowOtherKey = takes(allowOtherKey) && parser.isSet(allowOtherKey);
    options.verbose = takes(verbose) && parser.isSet(verbose);
    options.json = takes(json) && parser.isSet(json);

    const QString name = QLatin1String(command.name);
    if (name == QLatin1String("keygen"))
        return ZtxCommands::keygen(options);
    if (name == QLatin1String("pack"))
        return ZtxCommands::pack(options);
    if (name == QLatin1String("sign"))
        return ZtxCommands::sign(options);
    if (name == QLatin1String("verify"))
        return ZtxCommands::verify(options);
    return ZtxCommands::inspect(options);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments.isEmpty()) {
        std::fputs("ztx: no command\n", stderr);
        printOverview(stderr);
        return UsageError;
    }
    const QString first = arguments.takeFirst();
    if (first == QLatin1String("--help") || first == QLatin1String("-h")) {
        printOverview(stdout);
        return Success;
    }
    if (first == QLatin1String("--version"))
        return ZtxCommands::version();
    if (first == QLatin1String("help")) {
        if (arguments.isEmpty()) {
            printOverview(stdout);
            return Success;
        }
        const Command* command = findCommand(arguments.first());
        if (!command)
            return usageError(QStringLiteral("unknown command ") + arguments.first());
        printHelp(*command);
        return Success;
    }
    const Command* command = findCommand(first);
    if (!command)
        return usageError(QStringLiteral("unknown command ") + first);
    return run(*command, arguments);
}
