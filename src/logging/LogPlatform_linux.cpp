#include "LogPlatform.h"

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
