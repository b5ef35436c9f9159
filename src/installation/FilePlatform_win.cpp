#include "FilePlatform.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

namespace {

thread_local DWORD lastError = 0;

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
}

bool flushFile(const QString& path)
{
    const HANDLE file = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lastError = GetLastError();
        return false;
    }
    const BOOL flushed = FlushFileBuffers(file);
    if (!flushed)
        lastError = GetLastError();
    CloseHandle(file);
    return flushed != FALSE;
}

} // namespace

bool FilePlatform::flushDirectory(const QString& path)
{
    // NTFS journals its metadata: a rename is durable in order with the
    // data flushed after it, and folders cannot be flushed on their own.
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        lastError = GetLastError();
        return false;
    }
    return true;
}

bool FilePlatform::flushChanges(const QStringList& files, const QStringList&)
{
    for (const QString& file : files) {
        if (!flushFile(file))
            return false;
    }
    return true;
}

bool FilePlatform::moveFile(const QString& from, const QString& to)
{
    if (MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(), MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH))
        return true;
    lastError = GetLastError();
    return false;
}

bool FilePlatform::lastErrorWasExisting()
{
    return lastError == ERROR_ALREADY_EXISTS || lastError == ERROR_FILE_EXISTS;
}

bool FilePlatform::entryExists(const QString& path)
{
    return GetFileAttributesW(nativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FilePlatform::replaceFile(const QString& from, const QString& to)
{
    if (MoveFileExW(nativePath(from).c_str(), nativePath(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    lastError = GetLastError();
    return false;
}

int FilePlatform::maxNameLength(const QString& directory)
{
    DWORD maxComponentLength = 0;
    const std::wstring root = QDir::toNativeSeparators(QFileInfo(directory).absoluteFilePath().left(3)).toStdWString();
    if (GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, &maxComponentLength, nullptr, nullptr, 0))
        return int(maxComponentLength);
    return 255;
}

int FilePlatform::nameLength(const QString& name)
{
    return name.size();
}

QString FilePlatform::lastErrorText()
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   lastError, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(lastError);
    LocalFree(text);
    return message;
}
