// The functions a host resolves by name.
//
// Nothing may cross this boundary as an exception: the host is another
// binary that expects a result string, and an exception unwinding into it
// ends the host. Every export therefore runs its body inside
// callGuarded(), which logs whatever escapes and hands the host the export's
// failure result instead.

#include <updater/BaseException.h>
#include <updater/updater.h>
#include <updater/version.h>

#include <QApplication>
#include <QFont>

#include <exception>

#include "controller/CDefaultLibrary.h"
#include "controller/UpdateCancel.h"
#include "logging/Log.h"
#include "module/FaultInjection.h"
#include "module/ResourceBundle.h"
#include "module/ResultTexts.h"

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

// Writes what is known of the exception being handled. Logging can fail in
// turn (out of memory, say); that must not escape either.
void logEscapedException(const char* exportName, const char* outcome)
{
    try {
        QString description;
        try {
            throw;
        } catch (BaseException& exception) {
            description = QStringLiteral("BaseException: ") + exception.getStackTrace();
        } catch (const std::exception& exception) {
            description = QString::fromUtf8(exception.what());
        } catch (...) {
            description = QStringLiteral("an exception of unknown type (not a std::exception)");
        }
        LOG_UPDATER(WARN) << exportName << " :: Unexpected exception, " << outcome << ": " << description;
    } catch (...) {
    }
}

// Runs body() and returns its value; when anything is thrown, logs it and
// returns failure() instead. failure() may throw as well (it usually builds
// a string): then lastResort, which needs no allocation, is returned.
template <typename Body, typename Failure, typename Result>
Result callGuarded(const char* exportName, const char* outcome, Body body, Failure failure, Result lastResort)
{
    try {
        return body();
    } catch (...) {
        logEscapedException(exportName, outcome);
    }
    try {
        return failure();
    } catch (...) {
        return lastResort;
    }
}

// The failure results, made once when the library is loaded: returning a
// copy only shares them and allocates nothing.
const QByteArray kFileSystemErrorBytes = ResultTexts::fileSystemError().serialize();
const QByteArray kNetworkProxyErrorBytes = ResultTexts::networkProxyError(QString()).serialize();
const QByteArray kModuleVersionBytes = QByteArrayLiteral("0|" UPDATER_VERSION);

} // namespace

extern "C" {

int Init()
{
    // Without the resources the dialogs show no style and no translations:
    // 0 tells the host that Init did not complete.
    return callGuarded(
        "Init", "Init returns 0",
        [] {
            UPDATER_FAULT_POINT("export-init");
            ResourceBundle::registerBundle();
            return 1;
        },
        [] { return 0; }, 0);
}

void DeInit()
{
    callGuarded(
        "DeInit", "ignored",
        [] {
            UPDATER_FAULT_POINT("export-deinit");
            LOG_UPDATER(NOTICE) << "DeInit :: Library deinitialized.";
            UpdaterLogger::flushIfCreated();
            return 0;
        },
        [] { return 0; }, 0);
}

QByteArray Update(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    return callGuarded(
        "Update", "the call ends with result 41",
        [&] {
            CDefaultLibrary library(nullptr);
            return library.Update(request, context);
        },
        [] { return kFileSystemErrorBytes; }, kFileSystemErrorBytes);
}

QByteArray UpdateFromData(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    return callGuarded(
        "UpdateFromData", "the call ends with result 41",
        [&] {
            CDefaultLibrary library(nullptr);
            return library.UpdateFromData(request, context);
        },
        [] { return kFileSystemErrorBytes; }, kFileSystemErrorBytes);
}

QByteArray ShowConnectionWarning(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    // As for the other exceptions of the flow: result 45 echoing the code
    // that the host passed in.
    return callGuarded(
        "ShowConnectionWarning", "the call ends with result 45",
        [&] {
            static const bool fontSet = setUpApplicationFont();
            Q_UNUSED(fontSet);
            CDefaultLibrary library(nullptr);
            return library.ShowConnectionWarning(request, context);
        },
        [&] {
            return ResultTexts::networkProxyError(QString::fromUtf8(request.value("connectionErrorCode", QByteArray())))
                .serialize();
        },
        kNetworkProxyErrorBytes);
}

QByteArray GetModuleVersion(const QMap<QByteArray, QByteArray>& request, const QMap<QByteArray, QVariant>& context)
{
    // The version is a constant, so the answer is the same either way.
    return callGuarded(
        "GetModuleVersion", "the version is returned all the same",
        [&] {
            UPDATER_FAULT_POINT("export-version");
            CDefaultLibrary library(nullptr);
            return library.GetModuleVersion(request, context);
        },
        [] { return kModuleVersionBytes; }, kModuleVersionBytes);
}

// Only sets a flag: nothing here allocates, logs or waits, so it is safe
// from any thread and from inside the host's progress slot. The running call
// notices within UpdateCancel::PollIntervalMs and logs it.
void CancelUpdate()
{
    UpdateCancel::request();
}

// On failure the classification answers as for an address that is none of
// the exports: a GUI function that needs privileges, the cautious answer.
bool IsGuiFunction(const void* function)
{
    return callGuarded(
        "IsGuiFunction", "it returns true",
        [function] {
            UPDATER_FAULT_POINT("export-is-gui-function");
            const QList<const void*> nonGui = {reinterpret_cast<const void*>(&GetModuleVersion),
                                               reinterpret_cast<const void*>(&Update),
                                               reinterpret_cast<const void*>(&UpdateFromData),
                                               reinterpret_cast<const void*>(&CancelUpdate)};
            return !nonGui.contains(function);
        },
        [] { return true; }, true);
}

bool CanUnprivilegedRun(const void* function)
{
    return callGuarded(
        "CanUnprivilegedRun", "it returns false",
        [function] {
            UPDATER_FAULT_POINT("export-can-unprivileged-run");
            const QList<const void*> unprivileged = {reinterpret_cast<const void*>(&Update),
                                                     reinterpret_cast<const void*>(&UpdateFromData),
                                                     reinterpret_cast<const void*>(&CancelUpdate)};
            return unprivileged.contains(function);
        },
        [] { return false; }, false);
}

bool CanUseOnTerminalServices()
{
    return true;
}

} // extern "C"
