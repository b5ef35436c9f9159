#include "LogPlatform.h"

#include <QSysInfo>
#include <QVector>

#include <io.h>
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
    // QOperatingSystemVersion starts later than XP; only the old call tells it.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    const QSysInfo::WinVersion version = QSysInfo::windowsVersion();
    return version == QSysInfo::WV_XP || version == QSysInfo::WV_2003;
    QT_WARNING_POP
}

void LogPlatform::appendToFile(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const unsigned int chunk = size > 0x40000000u ? 0x40000000u : static_cast<unsigned int>(size);
        const int written = _write(fd, data, chunk);
        if (written <= 0)
            return;
        data += written;
        size -= static_cast<size_t>(written);
    }
}

qint64 LogPlatform::fileSize(int fd)
{
    return _lseeki64(fd, 0, SEEK_END);
}

void LogPlatform::localTime(std::time_t time, std::tm* local)
{
    localtime_s(local, &time);
}
