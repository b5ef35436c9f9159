// updater-host: drives the updater library the way a host application does.
//
// It sets its application and organization names (which place the module's
// log folder), changes to the installation folder, loads the library with
// QLibrary, resolves the exports, calls Init, runs one subcommand, prints the
// result string on one line, calls DeInit and exits with the result code.

#include <updater/updater.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QScopedPointer>
#include <QTextStream>

#include <cstdio>

namespace {

const char* const kDescription =
    "Loads the updater library as a host application does and calls one of its exports.\n"
    "\n"
    "Subcommands:\n"
    "  version                       GetModuleVersion\n"
    "  update --url URL [--proxy HEX] [--sha256 HEX]\n"
    "                                Update: download, verify and install the package at URL\n"
    "                                into the installation folder (--dir). HEX is the proxy\n"
    "                                transport form that connection-warning returns.\n"
    "  update-from-data PACKAGE      UpdateFromData: send the package file in the request\n"
    "                                Both take --progress (\"progress PHASE DONE TOTAL\" on\n"
    "                                standard error for every report of the module) and\n"
    "                                --cancel-at BYTES (CancelUpdate from the progress report\n"
    "                                in which the download reaches BYTES).\n"
    "  connection-warning [--language ID] [--error CODE]\n"
    "                                ShowConnectionWarning: show the dialogs (ID 0 Polish,\n"
    "                                1 English, 2 Croatian); CODE is the failed download's error\n"
    "\n"
    "The result string is printed on one line; the exit status is its code (0 on success).";

void printError(const QString& text)
{
    std::fprintf(stderr, "updater-host: %s\n", qPrintable(text));
}

QString defaultLibraryPath()
{
    const QDir appDir(QCoreApplication::applicationDirPath());
    // Installed: the library folder relative to the program folder; build
    // tree: bin/ and lib/ side by side.
    const QStringList candidates = {
        appDir.filePath(QStringLiteral(UPDATER_HOST_LIBRARY_DIR "/libupdater.so")),
        appDir.filePath(QStringLiteral("../lib/libupdater.so")), appDir.filePath(QStringLiteral("libupdater.so"))};
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).canonicalFilePath();
    }
    return candidates.first();
}

// Widgets need a display only for the dialogs; the other calls run headless.
void chooseHeadlessPlatformIfNeeded(int argc, char** argv)
{
    bool showsDialogs = false;
    for (int i = 1; i < argc; ++i)
        showsDialogs = showsDialogs || QByteArray(argv[i]) == "connection-warning";
    const bool hasDisplay = qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
    if (!showsDialogs && !hasDisplay && !qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The receiver of the module's progress reports: prints them, and cancels
// the call once the download has got far enough.
class ProgressReceiver : public QObject
{
    Q_OBJECT

public:
    ProgressReceiver(bool print, qint64 cancelAt, updater::CancelFunction cancel)
        : m_print(print)
        , m_cancelAt(cancelAt)
        , m_cancel(cancel)
    {
    }

public slots:
    void updateProgress(QString phase, qint64 done, qint64 total)
    {
        if (m_print) {
            std::fprintf(stderr, "progress %s %lld %lld\n", qPrintable(phase), static_cast<long long>(done),
                         static_cast<long long>(total));
            std::fflush(stderr);
        }
        if (m_cancel && m_cancelAt >= 0 && phase == QLatin1String("download") && done >= m_cancelAt) {
            m_cancel();
            m_cancel = nullptr;
        }
    }

private:
    bool m_print;
    qint64 m_cancelAt;
    updater::CancelFunction m_cancel;
};

int resultCode(const QByteArray& result)
{
    bool ok = false;
    const int code = result.left(result.indexOf('|')).toInt(&ok);
    return ok ? code : 1;
}

} // namespace

int main(int argc, char** argv)
{
    chooseHeadlessPlatformIfNeeded(argc, argv);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    const QCommandLineOption libraryOption(QStringLiteral("library"), QStringLiteral("The library to load."),
                                           QStringLiteral("path"), defaultLibraryPath());
    const QCommandLineOption dirOption(QStringLiteral("dir"),
                                       QStringLiteral("Installation folder; the working directory of the call."),
                                       QStringLiteral("folder"));
    const QCommandLineOption appOption(QStringLiteral("app-name"),
                                       QStringLiteral("Application name of the host (default: updater-host)."),
                                       QStringLiteral("name"), QStringLiteral("updater-host"));
    const QCommandLineOption orgOption(QStringLiteral("org-name"),
                                       QStringLiteral("Organization name of the host (default: updater)."),
                                       QStringLiteral("name"), QStringLiteral("updater"));
    const QCommandLineOption urlOption(QStringLiteral("url"), QStringLiteral("update: the package URL."),
                                       QStringLiteral("url"));
    const QCommandLineOption proxyOption(QStringLiteral("proxy"),
                                         QStringLiteral("update: proxy settings in their transport form."),
                                         QStringLiteral("hex"));
    const QCommandLineOption sha256Option(QStringLiteral("sha256"),
                                          QStringLiteral("update, update-from-data: the package's expected SHA-256."),
                                          QStringLiteral("hex"));
    const QCommandLineOption progressOption(QStringLiteral("progress"),
                                            QStringLiteral("Print each progress report on standard error."));
    const QCommandLineOption cancelAtOption(
        QStringLiteral("cancel-at"), QStringLiteral("Cancel once the download has reached this many bytes."),
        QStringLiteral("bytes"));
    const QCommandLineOption languageOption(QStringLiteral("language"),
                                            QStringLiteral("connection-warning: language id."), QStringLiteral("id"));
    const QCommandLineOption errorOption(QStringLiteral("error"),
                                         QStringLiteral("connection-warning: error code of the failed download."),
                                         QStringLiteral("code"));
    parser.addOptions({libraryOption, dirOption, appOption, orgOption, urlOption, proxyOption, sha256Option,
                       progressOption, cancelAtOption, languageOption, errorOption});
    parser.addPositionalArgument(QStringLiteral("subcommand"), QStringLiteral("version, update, update-from-data or "
                                                                              "connection-warning"));
    parser.process(app);

    const QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        printError(QStringLiteral("no subcommand given (see --help)"));
        return 2;
    }
    const QString command = positional.first();

    QCoreApplication::setApplicationName(parser.value(appOption));
    QCoreApplication::setOrganizationName(parser.value(orgOption));

    // Resolve the library path before changing directory.
    const QString libraryPath = QFileInfo(parser.value(libraryOption)).absoluteFilePath();
    if (parser.isSet(dirOption) && !QDir::setCurrent(parser.value(dirOption))) {
        printError(QStringLiteral("cannot change to %1").arg(parser.value(dirOption)));
        return 2;
    }

    updater::Request request;
    updater::Context context;
    const char* exportName = nullptr;
    if (command == QLatin1String("version")) {
        exportName = updater::GetModuleVersionName;
    } else if (command == QLatin1String("update")) {
        if (!parser.isSet(urlOption)) {
            printError(QStringLiteral("update needs --url"));
            return 2;
        }
        exportName = updater::UpdateName;
        request.insert("url", parser.value(urlOption).toUtf8());
        if (parser.isSet(proxyOption))
            request.insert("proxySettings", parser.value(proxyOption).toLatin1());
    } else if (command == QLatin1String("update-from-data")) {
        if (positional.size() < 2) {
            printError(QStringLiteral("update-from-data needs a package file"));
            return 2;
        }
        QFile package(positional.at(1));
        if (!package.open(QIODevice::ReadOnly)) {
            printError(QStringLiteral("cannot read %1").arg(positional.at(1)));
            return 2;
        }
        exportName = updater::UpdateFromDataName;
        request.insert("data", package.readAll().toBase64(QByteArray::Base64UrlEncoding));
    } else if (command == QLatin1String("connection-warning")) {
        exportName = updater::ShowConnectionWarningName;
        if (parser.isSet(languageOption))
            context.insert("languageId", parser.value(languageOption));
        if (parser.isSet(errorOption))
            request.insert("connectionErrorCode", parser.value(errorOption).toUtf8());
    } else {
        printError(QStringLiteral("unknown subcommand '%1' (see --help)").arg(command));
        return 2;
    }

    QLibrary library(libraryPath);
    if (!library.load()) {
        printError(QStringLiteral("cannot load %1: %2").arg(libraryPath, library.errorString()));
        return 2;
    }
    const auto init = reinterpret_cast<updater::InitFunction>(library.resolve(updater::InitName));
    const auto deInit = reinterpret_cast<updater::DeInitFunction>(library.resolve(updater::DeInitName));
    const auto work = reinterpret_cast<updater::WorkFunction>(library.resolve(exportName));
    if (!init || !deInit || !work) {
        printError(QStringLiteral("%1 does not export the updater functions").arg(libraryPath));
        return 2;
    }

    qint64 cancelAt = -1;
    if (parser.isSet(cancelAtOption)) {
        bool ok = false;
        cancelAt = parser.value(cancelAtOption).toLongLong(&ok);
        if (!ok || cancelAt < 0) {
            printError(QStringLiteral("--cancel-at needs a number of bytes"));
            return 2;
        }
    }
    const auto cancel = reinterpret_cast<updater::CancelFunction>(library.resolve(updater::CancelUpdateName));
    if (cancelAt >= 0 && !cancel) {
        printError(QStringLiteral("%1 does not export %2").arg(libraryPath, QLatin1String(updater::CancelUpdateName)));
        return 2;
    }
    ProgressReceiver receiver(parser.isSet(progressOption), cancelAt, cancel);
    if (parser.isSet(progressOption) || cancelAt >= 0)
        context.insert("progressReceiver", QVariant::fromValue<QObject*>(&receiver));
    if (parser.isSet(sha256Option))
        request.insert("sha256", parser.value(sha256Option).toLatin1());

    init();
    const QByteArray result = work(request, context);
    std::fprintf(stdout, "%s\n", result.constData());
    std::fflush(stdout);
    deInit();
    return resultCode(result);
}

#include "main.moc"
