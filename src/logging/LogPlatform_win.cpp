#include "LogPlatform.h"

#include <QSysInfo>
#include <QVector>

#include <windows.h>

QString LogPlatform::shortPathName(const QString& path)
{
    QVector<wchar_t> buffer(MAX_PATH, 0);
    const DWORD length = GetShortPathNameW(reinterpret_cast<const wchar_t*>(path.utf16()), buffer.data(),
                                           static_cast<DWORD>(buffer.size()));
    // Keep the long form when there is no short one (or it does not fit).
    if (length == 0 || length >= static_cast<DWORD>(buffer.size()))
        return path;
    return QString::fromWCharArray(buffer.constData(), static_cast<int>(length));
}

bool LogPlatform::isLegacyWindowsVersion()
{
    const QSysInfo::WinVersion version = QSysInfo::windowsVersion();
    return version == QSysInfo::WV_XP || version == QSysInfo::WV_2003;
}
