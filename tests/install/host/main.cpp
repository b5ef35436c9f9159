// A minimal host: loads the installed module and asks for its version.
#include <updater/updater.h>

#include <QCoreApplication>
#include <QLibrary>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QLibrary library(QStringLiteral(UPDATER_LIBRARY));
    if (!library.load()) {
        std::fprintf(stderr, "%s\n", qPrintable(library.errorString()));
        return 1;
    }
    const auto init = reinterpret_cast<updater::InitFunction>(library.resolve(updater::InitName));
    const auto version = reinterpret_cast<updater::WorkFunction>(library.resolve(updater::GetModuleVersionName));
    if (!init || !version)
        return 1;
    init();
    std::printf("%s\n", version(updater::Request(), updater::Context()).constData());
    return 0;
}
