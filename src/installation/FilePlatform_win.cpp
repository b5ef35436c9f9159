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

bool flushFileByName(const QString& path)
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

qintptr FilePlatform::openLockFile(const QString& path)
{
    // Opened without FILE_SHARE_DELETE, by every installer: the file cannot
    // be removed while another one has it open, so the file that an
    // installer locks is always the one its path names.
    const HANDLE file = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        lastError = GetLastError();
        return NoLockHandle;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        lastError = ERROR_INVALID_PARAMETER;
        CloseHandle(file);
        return NoLockHandle;
    }
    return reinterpret_cast<qintptr>(file);
}

FilePlatform::LockOutcome FilePlatform::lockFile(qintptr handle, const QString&)
{
    OVERLAPPED whole = {};
    if (LockFileEx(reinterpret_cast<HANDLE>(handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &whole))
        return LockOutcome::Locked;
    lastError = GetLastError();
    return lastError == ERROR_LOCK_VIOLATION || lastError == ERROR_IO_PENDING ? LockOutcome::Busy
                                                                              : LockOutcome::Failed;
}

void FilePlatform::releaseLockFile(qintptr handle, const QString& path, bool remove)
{
    if (handle == NoLockHandle)
        return;
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    // Fails while another installer has the file open (it waits for it);
    // the last one to let go removes it.
    if (remove)
        DeleteFileW(nativePath(path).c_str());
}

FilePlatform::FolderState FilePlatform::folderState(const QString& path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        lastError = GetLastError();
        return lastError == ERROR_FILE_NOT_FOUND || lastError == ERROR_PATH_NOT_FOUND ? FolderState::Missing
                                                                                        : FolderState::Unreadable;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FolderState::Link;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return FolderState::NotAFolder;
    // Who may write the folder is its access list's business, which the
    // installation folder's own list governs.
    return FolderState::Usable;
}

bool FilePlatform::flushFile(QFile& file)
{
    return flushFileByName(file.fileName());
}

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
        if (!flushFileByName(file))
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

bool FilePlatform::listFolder(const QString& folder, QStringList* files, QStringList* folders)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = nativePath(folder) + L"\\*";
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE) {
        lastError = GetLastError();
        return lastError == ERROR_FILE_NOT_FOUND;
    }
    do {
        const DWORD attributes = found.dwFileAttributes;
        // Hidden means the attribute here, as for QDir.
        const bool dots = found.cFileName[0] == L'.'
                          && (found.cFileName[1] == L'\0' || (found.cFileName[1] == L'.' && found.cFileName[2] == L'\0'));
        if (dots || (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_REPARSE_POINT)))
            continue;
        const QString name = QString::fromWCharArray(found.cFileName);
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            folders->append(name);
        else
            files->append(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

FilePlatform::EntryKind FilePlatform::entryKind(const QString& path)
{
    const DWORD attributes = GetFileAttributesW(nativePath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return EntryKind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return EntryKind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::Folder : EntryKind::File;
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
