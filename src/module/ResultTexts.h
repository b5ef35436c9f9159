#ifndef RESULTTEXTS_H
#define RESULTTEXTS_H

#include <updater/updater.h>
#include <updater/version.h>

#include "DllResultBasic.h"

// The fixed result records the module hands to hosts: the one table of their
// codes and texts. The codes are the public updater::ResultCode; hosts match
// the texts as well, so a text never changes once shipped.
namespace ResultTexts {

struct Entry {
    updater::ResultCode code;
    const char* message;
    // nullptr: the details are the call's own (an error code, the proxy text).
    const char* details;
};

inline constexpr Entry kFileUpdated = {updater::Success, "file updated", "file updated, need to relogin user"};
inline constexpr Entry kFileSystemError = {updater::FileSystemError, "file system error",
                                           "insufficient permission for file operations"};
inline constexpr Entry kOperationAborted = {updater::FileSystemError, "operation aborted",
                                            "user clicked the cancel button"};
inline constexpr Entry kInsufficientParameters = {updater::InsufficientParameters, "insufficient parameters",
                                                  "url or destFileName was not set"};
inline constexpr Entry kVerificationError = {updater::VerificationError, "verification error",
                                             "downloaded file can't be verified"};
inline constexpr Entry kNetworkProxyError = {updater::NetworkProxyError,
                                             "network/proxy error occured during downloading", nullptr};
inline constexpr Entry kProxySettingsSet = {updater::ProxySettingsSet, "proxy settings set", nullptr};
inline constexpr Entry kConnectionError = {updater::ConnectionError, "connection error occured during downloading",
                                           nullptr};
inline constexpr Entry kFileOversized = {updater::FileOversized, "file is oversized",
                                         "file is oversized, downloading was aborted"};

// Every entry above, in the order of their codes.
inline constexpr const Entry* kAll[] = {
    &kFileUpdated,       &kFileSystemError,  &kOperationAborted, &kInsufficientParameters, &kVerificationError,
    &kNetworkProxyError, &kProxySettingsSet, &kConnectionError,  &kFileOversized};

// The text of GetModuleVersion's result.
inline constexpr const char* ModuleVersion = UPDATER_VERSION;

// The record of an entry; details replaces the entry's own.
inline DllResultBasic record(const Entry& entry, const QString& details)
{
    return DllResultBasic(entry.code, QString::fromLatin1(entry.message), details);
}

inline DllResultBasic record(const Entry& entry)
{
    return record(entry, QString::fromLatin1(entry.details));
}

inline DllResultBasic fileUpdated()
{
    return record(kFileUpdated);
}

inline DllResultBasic fileSystemError()
{
    return record(kFileSystemError);
}

inline DllResultBasic operationAborted()
{
    return record(kOperationAborted);
}

inline DllResultBasic insufficientParameters()
{
    return record(kInsufficientParameters);
}

// A request value that is not what it must be; the details name the key.
inline DllResultBasic insufficientParameters(const QString& details)
{
    return record(kInsufficientParameters, details);
}

inline DllResultBasic verificationError()
{
    return record(kVerificationError);
}

inline DllResultBasic networkProxyError(const QString& details)
{
    return record(kNetworkProxyError, details);
}

inline DllResultBasic proxySettingsSet(const QString& hexProxyText)
{
    return record(kProxySettingsSet, hexProxyText);
}

inline DllResultBasic connectionError(const QString& details)
{
    return record(kConnectionError, details);
}

inline DllResultBasic fileOversized()
{
    return record(kFileOversized);
}

} // namespace ResultTexts

#endif
