#ifndef RESULTTEXTS_H
#define RESULTTEXTS_H

#include "DllResultBasic.h"

// The fixed result records the module hands to hosts.
namespace ResultTexts {

const char* const ModuleVersion = "2.9.4846.6707";

inline DllResultBasic fileUpdated()
{
    return DllResultBasic(0, QStringLiteral("file updated"), QStringLiteral("file updated, need to relogin user"));
}

inline DllResultBasic fileSystemError()
{
    return DllResultBasic(41, QStringLiteral("file system error"),
                          QStringLiteral("insufficient permission for file operations"));
}

inline DllResultBasic operationAborted()
{
    return DllResultBasic(41, QStringLiteral("operation aborted"), QStringLiteral("user clicked the cancel button"));
}

inline DllResultBasic insufficientParameters()
{
    return DllResultBasic(42, QStringLiteral("insufficient parameters"), QStringLiteral("url or destFileName was not set"));
}

inline DllResultBasic verificationError()
{
    return DllResultBasic(43, QStringLiteral("verification error"), QStringLiteral("downloaded file can't be verified"));
}

inline DllResultBasic networkProxyError(const QString& details)
{
    return DllResultBasic(45, QStringLiteral("network/proxy error occured during downloading"), details);
}

inline DllResultBasic proxySettingsSet(const QString& hexProxyText)
{
    return DllResultBasic(46, QStringLiteral("proxy settings set"), hexProxyText);
}

inline DllResultBasic connectionError(const QString& details)
{
    return DllResultBasic(47, QStringLiteral("connection error occured during downloading"), details);
}

inline DllResultBasic fileOversized()
{
    return DllResultBasic(48, QStringLiteral("file is oversized"), QStringLiteral("file is oversized, downloading was aborted"));
}

} // namespace ResultTexts

#endif
