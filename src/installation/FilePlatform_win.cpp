#include "FilePlatform.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

namespace {

std::wstring nativePath(const QString& path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath()).toStdWString();
}

// The reason when the file cannot be flushed.
QString flushFileByName(const QString& path)
{
    const HANDLE file = CreateFileW(nativePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FilePlatform::errorText(int(GetLastError()));
    const DWORD error = FlushFileBuffers(file) ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return error == ERROR_SUCCESS ? QString() : FilePlatform::errorText(int(error));
}

} // namespace

QString FilePlatform::flushChanges(const QStringList& files, const QStringList&)
{
    for (const QString& file : files) {
        const QString error = flushFileByName(file);
        if (!error.isEmpty())
            return error;
    }
    return QString();
}

bool FilePlatform::listFolder(const QString& folder, QStringList* files, QStringList* folders)
{
    WIN32_FIND_DATAW found;
    const std::wstring pattern = nativePath(folder) + L"\\*";
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
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

bool FilePlatform::entryExists(const QString& path)
{
    return GetFileAttributesW(nativePath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
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

QString FilePlatform::fileIdentity(const QString& path)
{
    const HANDLE file = CreateFileW(nativePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return QString();
    BY_HANDLE_FILE_INFORMATION info;
    const BOOL looked = GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    if (!looked)
        return QString();
    return QStringLiteral("%1:%2:%3")
        .arg(info.dwVolumeSerialNumber)
        .arg(info.nFileIndexHigh)
        .arg(info.nFileIndexLow);
}

bool FilePlatform::namesEqual(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString FilePlatform::errorText(int code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   DWORD(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    const QString message = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return message;
}
