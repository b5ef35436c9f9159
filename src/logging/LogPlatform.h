#ifndef LOGPLATFORM_H
#define LOGPLATFORM_H

#include <QString>

// Platform parts of the log folder computation.
namespace LogPlatform {

// The short (8.3) form of an existing folder; the folder unchanged where the
// platform has no short names or the conversion fails.
QString shortPathName(const QString& path);

// True on Windows XP and Windows Server 2003, whose per-user folder layout
// differs from later versions.
bool isLegacyWindowsVersion();

} // namespace LogPlatform

#endif
