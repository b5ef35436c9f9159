// installation-test-child FOLDER PACKAGE
//
// Installs the signed package PACKAGE into FOLDER through UpdateFromData and
// prints the result string, then the lines the module logged meanwhile. The
// fault tests run it without root's powers.

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

#include "controller/CDefaultLibrary.h"
#include "support/LogFile.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("installation-test-child"));
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: installation-test-child FOLDER PACKAGE\n");
        return 2;
    }
    QFile package(arguments.at(2));
    if (!package.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read the package\n");
        return 2;
    }
    const QByteArray bytes = package.readAll();
    if (!QDir::setCurrent(arguments.at(1))) {
        std::fprintf(stderr, "cannot enter the folder\n");
        return 2;
    }

    LogFile log;
    QByteArray result;
    {
        CDefaultLibrary library;
        result = library.UpdateFromData({{"data", bytes.toBase64()}}, {});
    }
    std::printf("%s\n%s", result.constData(), log.newText().toLatin1().constData());
    return result.startsWith("0|") ? 0 : 1;
}
