#ifndef LOGPLATFORM_H
#define LOGPLATFORM_H

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <ctime>

// Platform parts of the log folder computation.
namespace LogPlatform {

// The short (8.3) form of an existing folder; the folder unchanged where the
// platform has no short names or the conversion fails.
QString shortPathName(const QString& path);

// True on Windows XP and Windows Server 2003, whose per-user folder layout
// differs from later versions.
bool isLegacyWindowsVersion();

// Appends the bytes to the open file descriptor (opened for appending),
// repeating short writes; a failure is ignored, as a log's must be.
void appendToFile(int fd, const char* data, size_t size);

// The size of the open file, -1 when it cannot be told.
qint64 fileSize(int fd);

// The local calendar time of a moment, safe to call from any thread.
void localTime(std::time_t time, std::tm* local);

} // namespace LogPlatform

#endif
