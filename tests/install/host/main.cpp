// tiny-host: the smallest complete host of the updater module. It loads
// libupdater.so from its own folder, updates its own installation (the
// folder it lives in) from the package URL given on the command line and
// prints the result string; without a URL it prints the module's version.
//
//   tiny-host [URL [SHA256]]

#include <updater/updater.h>

#include <QApplication>
#include <QDir>
#include <QLibrary>

#include <cstdio>

int main(int argc, char** argv)
{
    // A QApplication: the module's dialogs need one, and the download runs
    // a Qt event loop. Its two names place the module's log:
    // ~/.config/Example/tiny-host/logs/updater.log
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Example"));
    QCoreApplication::setApplicationName(QStringLiteral("tiny-host"));

    // The module ships beside the program; load it by its full path.
    const QString folder = QCoreApplication::applicationDirPath();
    QLibrary library(folder + QStringLiteral("/libupdater.so"));
    if (!library.load()) {
        std::fprintf(stderr, "%s\n", qPrintable(library.errorString()));
        return 2;
    }
    const auto init = reinterpret_cast<updater::InitFunction>(library.resolve(updater::InitName));
    const auto deInit = reinterpret_cast<updater::DeInitFunction>(library.resolve(updater::DeInitName));
    const auto update = reinterpret_cast<updater::WorkFunction>(library.resolve(updater::UpdateName));
    const auto version = reinterpret_cast<updater::WorkFunction>(library.resolve(updater::GetModuleVersionName));
    if (!init || !deInit || !update || !version)
        return 2;

    init();
    QByteArray result;
    if (argc > 1) {
        // Update installs into the current working directory.
        QDir::setCurrent(folder);
        updater::Request request;
        request.insert("url", argv[1]);
        if (argc > 2)
            request.insert("sha256", argv[2]); // from the host's own trusted source
        result = update(request, updater::Context());
    } else {
        result = version(updater::Request(), updater::Context());
    }
    std::printf("%s\n", result.constData());
    deInit();
    return result.startsWith("0|") ? 0 : 1;
}
