// package-check: a program linked against the installed library through
// updater::updater. It catches and copies the module's exported exception
// class, then prints the result of GetModuleVersion; it exits with 0 when
// that is the version of the headers it was built with.

#include <updater/BaseException.h>
#include <updater/updater.h>
#include <updater/version.h>

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Example"));
    QCoreApplication::setApplicationName(QStringLiteral("package-check"));

    try {
        throw BaseException(QStringLiteral("outer"), BaseException(QStringLiteral("inner")));
    } catch (BaseException& exception) {
        BaseException copy(exception);
        if (copy.getStackTrace() != QStringLiteral("outer\n\tinner")) {
            std::fprintf(stderr, "unexpected stack trace: %s\n", qPrintable(copy.getStackTrace()));
            return 2;
        }
    }

    const QByteArray version = GetModuleVersion(updater::Request(), updater::Context());
    std::printf("%s\n", version.constData());
    return version == "0|" UPDATER_VERSION ? 0 : 1;
}
