#include "PartialDownloadFiles.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

#include <fcntl.h>
#include <io.h>

namespace {

thread_local DWORD lastError = 0;

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
}

bool fail()
{
    lastError = GetLastError();
    return false;
}

HANDLE osHandle(PartialDownloadFiles::Handle handle)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(int(handle)));
}

} // namespace

PartialDownloadFiles::FolderState PartialDownloadFiles::folderState(const QString& path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        lastError = GetLastError();
        return lastError == ERROR_FILE_NOT_FOUND || lastError == ERROR_PATH_NOT_FOUND ? FolderState::Missing
                                                                                       : FolderState::Refused;
    }
    // A junction or a symbolic link is refused whatever it leads to.
    const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ? FolderState::Usable : FolderState::Refused;
}

bool PartialDownloadFiles::createFolder(const QString& path)
{
    return CreateDirectoryW(nativePath(path).c_str(), nullptr) || fail();
}

bool PartialDownloadFiles::removeEmptyFolder(const QString& path)
{
    return RemoveDirectoryW(nativePath(path).c_str()) || fail();
}

PartialDownloadFiles::Handle PartialDownloadFiles::openFile(const QString& path, Open how)
{
    const DWORD access = how == Open::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = how == Open::Create ? OPEN_ALWAYS : OPEN_EXISTING;
    const HANDLE file = CreateFileW(nativePath(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fail();
        return NoHandle;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        lastError = ERROR_INVALID_PARAMETER;
        CloseHandle(file);
        return NoHandle;
    }
    // The descriptor owns the handle from here on.
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
    if (descriptor < 0) {
        lastError = ERROR_TOO_MANY_OPEN_FILES;
        CloseHandle(file);
        return NoHandle;
    }
    return descriptor;
}

void PartialDownloadFiles::closeFile(Handle handle)
{
    if (handle != NoHandle)
        _close(int(handle));
}

bool PartialDownloadFiles::lockFile(Handle handle)
{
    OVERLAPPED whole = {};
    return LockFileEx(osHandle(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole) || fail();
}

qint64 PartialDownloadFiles::fileSize(Handle handle)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(osHandle(handle), &size)) {
        fail();
        return -1;
    }
    return size.QuadPart;
}

qint64 PartialDownloadFiles::readFile(Handle handle, char* data, qint64 size)
{
    DWORD length = 0;
    const DWORD asked = DWORD(qMin<qint64>(size, 1 << 30));
    if (!ReadFile(osHandle(handle), data, asked, &length, nullptr)) {
        fail();
        return -1;
    }
    return length;
}

bool PartialDownloadFiles::writeFile(Handle handle, const char* data, qint64 size)
{
    while (size > 0) {
        DWORD length = 0;
        const DWORD asked = DWORD(qMin<qint64>(size, 1 << 30));
        if (!WriteFile(osHandle(handle), data, asked, &length, nullptr) || length == 0)
            return fail();
        data += length;
        size -= length;
    }
    return true;
}

bool PartialDownloadFiles::truncateFile(Handle handle)
{
    LARGE_INTEGER start = {};
    return (SetFilePointerEx(osHandle(handle), start, nullptr, FILE_BEGIN) && SetEndOfFile(osHandle(handle))) || fail();
}

bool PartialDownloadFiles::removeFile(const QString& path)
{
    if (DeleteFileW(nativePath(path).c_str()))
        return true;
    lastError = GetLastError();
    return lastError == ERROR_FILE_NOT_FOUND;
}

QString PartialDownloadFiles::lastErrorText()
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   lastError, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(lastError);
    if (text)
        LocalFree(text);
    return message;
}
