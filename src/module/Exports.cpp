// The functions a host resolves by name.

#include <updater/updater.h>

#include <QApplication>
#include <QFont>

#include "controller/CDefaultLibrary.h"
#include "logging/Log.h"
#include "module/ResourceBundle.h"

namespace {

// Sets the application font once per process, before the first dialog.
bool setUpApplicationFont()
{
    static QFont font;
    font.setFamily(font.defaultFamily());
    font.setPointSize(9);
    QApplication::setFont(font);
    return true;
}

} // namespace

extern "C" {

int Init()
{
    ResourceBundle::registerBundle();
    return 1;
}

void DeInit()
{
    LOG_UPDATER(NOTICE) << "DeInit :: Library deinitialized.";
}

QByteArray Update(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    CDefaultLibrary library(nullptr);
    return library.Update(request, context);
}

QByteArray UpdateFromData(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    CDefaultLibrary library(nullptr);
    return library.UpdateFromData(request, context);
}

QByteArray ShowConnectionWarning(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    static const bool fontSet = setUpApplicationFont();
    Q_UNUSED(fontSet);
    CDefaultLibrary library(nullptr);
    return library.ShowConnectionWarning(request, context);
}

QByteArray GetModuleVersion(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    CDefaultLibrary library(nullptr);
    return library.GetModuleVersion(request, context);
}

bool IsGuiFunction(const void* function)
{
    const QList<const void*> nonGui = {reinterpret_cast<const void*>(&GetModuleVersion),
                                       reinterpret_cast<const void*>(&Update),
                                       reinterpret_cast<const void*>(&UpdateFromData)};
    return !nonGui.contains(function);
}

bool CanUnprivilegedRun(const void* function)
{
    const QList<const void*> unprivileged = {reinterpret_cast<const void*>(&Update),
                                             reinterpret_cast<const void*>(&UpdateFromData)};
    return unprivileged.contains(function);
}

bool CanUseOnTerminalServices()
{
    return true;
}

} // extern "C"
