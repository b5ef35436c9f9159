#ifndef UPDATER_UPDATER_H
#define UPDATER_UPDATER_H

// Public interface of the updater module for host applications.
//
// The host loads the library (for example with QLibrary), resolves the
// exports below by name, calls Init() once, then any number of work calls,
// and DeInit() before unloading. Host and module must be built against the
// same Qt 5 and compiler, because the work functions take and return Qt
// value types.
//
// Every work function returns a result string "code|message|details" (or
// "code|text" for GetModuleVersion), UTF-8, never empty. See
// updater::ResultCode for the codes. No export throws: a failure inside a
// call is logged and returned as the call's failure result.

#include <QByteArray>
#include <QMap>
#include <QVariant>

#include "updater_export.h"

// The work functions return a C++ type from C linkage on purpose: hosts
// resolve them by their plain names and are built with the same Qt.
#if defined(__clang__)
#  pragma clang diagnostic push
#  pragma clang diagnostic ignored "-Wreturn-type-c-linkage"
#endif

extern "C" {

// Registers the module's compiled-in resources; returns 1.
UPDATER_EXPORT int Init();
// Writes a log line; the module stays usable.
UPDATER_EXPORT void DeInit();

// Downloads the package named by request "url_win32", "url_win" or "url"
// (https only), verifies its signature and installs it into the current
// working directory. Optional "proxySettings": the transport form returned
// by ShowConnectionWarning in result 46. Optional "sha256": the SHA-256 of
// the whole package in hexadecimal; any other package is refused (43).
// Either value in another form is refused at once (42).
//
// Optional context "progressReceiver": a QObject* (QVariant::fromValue)
// whose slot updateProgress(QString phase, qint64 done, qint64 total) is
// called directly, on the calling thread, for the phases "download",
// "verify", "unpack", "install" and "clean-up": when a phase starts, when it
// ends, and between at least every 250 ms and at most 20 times a second;
// done never decreases within a phase, total is -1 while it is not known.
// A download cut short is kept in the folder's UPDATES and resumed by the
// next Update of the same URL. Only one Update or UpdateFromData runs at a
// time in a process: another started meanwhile returns 41 "operation
// aborted" at once.
UPDATER_EXPORT QByteArray Update(const QMap<QByteArray, QByteArray>& request,
                                 const QMap<QByteArray, QVariant>& context);
// Verifies and installs the package passed in request "data" (Base64 in
// the URL-safe or the standard alphabet, padded or not; at most 10,485,760
// bytes once decoded). Optional "sha256" as for Update.
UPDATER_EXPORT QByteArray UpdateFromData(const QMap<QByteArray, QByteArray>& request,
                                         const QMap<QByteArray, QVariant>& context);
// Asks the running Update or UpdateFromData to stop: until the installation's
// commit point (during the download, the check, the unpacking, the moving
// of the files and their flush) it ends with 41 "operation aborted" and the
// installation folder as it was; after it the installation finishes (0),
// and the log says the cancel came too late. Safe from any thread and from
// inside the progress slot; does nothing when no call runs.
UPDATER_EXPORT void CancelUpdate();
// Tells the user that the download failed and lets them enter proxy
// settings. Must run on the GUI thread. Reads request "connectionErrorCode"
// and context "languageId" (0 Polish, 1 English, 2 Croatian; any other or
// none: Polish). The host's application style sheet and icon stay as they
// are.
UPDATER_EXPORT QByteArray ShowConnectionWarning(const QMap<QByteArray, QByteArray>& request,
                                                const QMap<QByteArray, QVariant>& context);
// Returns "0|<version>", the loaded library's UPDATER_VERSION (updater/version.h).
UPDATER_EXPORT QByteArray GetModuleVersion(const QMap<QByteArray, QByteArray>& request,
                                           const QMap<QByteArray, QVariant>& context);

// Classification of the work functions, by the address the host resolved.
UPDATER_EXPORT bool IsGuiFunction(const void* function);
UPDATER_EXPORT bool CanUnprivilegedRun(const void* function);
UPDATER_EXPORT bool CanUseOnTerminalServices();

} // extern "C"

#if defined(__clang__)
#  pragma clang diagnostic pop
#endif

namespace updater {

using Request = QMap<QByteArray, QByteArray>;
using Context = QMap<QByteArray, QVariant>;

// Function-pointer types for QLibrary::resolve.
using InitFunction = int (*)();
using DeInitFunction = void (*)();
using WorkFunction = QByteArray (*)(const Request& request, const Context& context);
using ClassifyFunction = bool (*)(const void* function);
using TerminalServicesFunction = bool (*)();
using CancelFunction = void (*)();

// Export names, as resolved with QLibrary::resolve.
constexpr const char* InitName = "Init";
constexpr const char* DeInitName = "DeInit";
constexpr const char* UpdateName = "Update";
constexpr const char* UpdateFromDataName = "UpdateFromData";
constexpr const char* ShowConnectionWarningName = "ShowConnectionWarning";
constexpr const char* GetModuleVersionName = "GetModuleVersion";
constexpr const char* IsGuiFunctionName = "IsGuiFunction";
constexpr const char* CanUnprivilegedRunName = "CanUnprivilegedRun";
constexpr const char* CanUseOnTerminalServicesName = "CanUseOnTerminalServices";
constexpr const char* CancelUpdateName = "CancelUpdate";

// The numeric code that starts every result string.
enum ResultCode : int {
    Success = 0,                 // "file updated" (or the version string)
    FileSystemError = 41,        // "file system error", or "operation aborted" when the user or the host cancelled
    InsufficientParameters = 42, // "insufficient parameters"
    VerificationError = 43,      // "verification error"
    NetworkProxyError = 45,      // "network/proxy error occured during downloading"
    ProxySettingsSet = 46,       // "proxy settings set"; details: proxy text in hex
    ConnectionError = 47,        // "connection error occured during downloading"
    FileOversized = 48           // "file is oversized"
};

// Largest package accepted, for downloads and for UpdateFromData.
constexpr qint64 MaxPackageSize = 10485760;

} // namespace updater

#endif
