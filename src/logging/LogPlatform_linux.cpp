#include "LogPlatform.h"

#include <cerrno>

#include <unistd.h>

// Linux has no short path names and no Windows version: the folder stays as
// it is and the layout of later Windows versions is used.

QString LogPlatform::shortPathName(const QString& path)
{
    return path;
}

bool LogPlatform::isLegacyWindowsVersion()
{
    return false;
}

void LogPlatform::appendToFile(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        data += written;
        size -= size_t(written);
    }
}

qint64 LogPlatform::fileSize(int fd)
{
    return qint64(::lseek(fd, 0, SEEK_END));
}

void LogPlatform::localTime(std::time_t time, std::tm* local)
{
    localtime_r(&time, local);
}
