// export-fault-host: a host with a look of its own (application style sheet,
// application icon, a window with its own icon) that loads a build of the
// library, calls one export and reports what came back and whether its look
// survived. tst_export_faults runs it with the test build of the library and
// a fault injected below the export.
//
// Usage: export-fault-host LIBRARY EXPORT [KEY=VALUE...]
//   EXPORT: Init, DeInit, Update, UpdateFromData, ShowConnectionWarning,
//           GetModuleVersion, IsGuiFunction, CanUnprivilegedRun
//   KEY=VALUE: request entries of the work exports
// Prints two lines: the export's result (work exports), its return value
// (Init, the classification functions, with the address of Update) or
// "returned" (DeInit); then "look kept" or "look changed: ...".
// ShowConnectionWarning's first dialog is answered with "Proxy settings",
// a second one with "Cancel".

#include <QApplication>
#include <QIcon>
#include <QLibrary>
#include <QPixmap>
#include <QWidget>

#include <cstdio>

#include <updater/updater.h>

#include "support/ModalDriver.h"

namespace {

QIcon plainIcon(Qt::GlobalColor color)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(color);
    return QIcon(pixmap);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("UpdaterTests"));
    QCoreApplication::setApplicationName(QStringLiteral("tst_export_faults"));
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: export-fault-host LIBRARY EXPORT [KEY=VALUE...]\n");
        return 2;
    }
    const QString exportName = arguments.at(2);
    updater::Request request;
    for (const QString& entry : arguments.mid(3))
        request.insert(entry.section(QLatin1Char('='), 0, 0).toUtf8(), entry.section(QLatin1Char('='), 1).toUtf8());

    const QString hostSheet = QStringLiteral("QLabel { color: rgb(1, 2, 3); }");
    const QIcon hostIcon = plainIcon(Qt::darkGreen);
    const QIcon windowIcon = plainIcon(Qt::darkBlue);
    app.setStyleSheet(hostSheet);
    QApplication::setWindowIcon(hostIcon);
    QWidget hostWindow;
    hostWindow.setWindowIcon(windowIcon);
    hostWindow.show();

    QLibrary library(arguments.at(1));
    if (!library.load()) {
        std::fprintf(stderr, "export-fault-host: %s\n", qPrintable(library.errorString()));
        return 2;
    }
    const auto init = reinterpret_cast<updater::InitFunction>(library.resolve(updater::InitName));
    const auto deInit = reinterpret_cast<updater::DeInitFunction>(library.resolve(updater::DeInitName));
    const void* update = reinterpret_cast<const void*>(library.resolve(updater::UpdateName));
    QFunctionPointer function = library.resolve(exportName.toLatin1().constData());
    if (!init || !deInit || !update || !function) {
        std::fprintf(stderr, "export-fault-host: %s lacks an export\n", qPrintable(library.fileName()));
        return 2;
    }

    if (exportName != QLatin1String("Init"))
        init();
    QByteArray outcome;
    if (exportName == QLatin1String("Init")) {
        outcome = QByteArray::number(init());
    } else if (exportName == QLatin1String("DeInit")) {
        deInit();
        outcome = "returned";
    } else if (exportName == QLatin1String("IsGuiFunction") || exportName == QLatin1String("CanUnprivilegedRun")) {
        outcome = reinterpret_cast<updater::ClassifyFunction>(function)(update) ? "true" : "false";
    } else {
        if (exportName == QLatin1String(updater::ShowConnectionWarningName)) {
            ModalDriver::onNextModal([](QWidget* warning) {
                ModalDriver::onNextModal([](QWidget* proxy) { ModalDriver::clickButton(proxy, QStringLiteral("cancel")); },
                                         warning, 2000);
                ModalDriver::clickButton(warning, QStringLiteral("proxySettingsButton"));
            });
        }
        outcome = reinterpret_cast<updater::WorkFunction>(function)(request, updater::Context());
    }
    if (exportName != QLatin1String("DeInit"))
        deInit();

    QStringList changes;
    if (app.styleSheet() != hostSheet)
        changes << QStringLiteral("application style sheet '%1'").arg(app.styleSheet());
    if (QApplication::windowIcon().cacheKey() != hostIcon.cacheKey())
        changes << QStringLiteral("application icon");
    if (hostWindow.windowIcon().cacheKey() != windowIcon.cacheKey())
        changes << QStringLiteral("window icon");
    std::printf("%s\n%s\n", outcome.constData(),
                changes.isEmpty() ? "look kept" : qPrintable(QStringLiteral("look changed: ") + changes.join(", ")));
    return 0;
}
