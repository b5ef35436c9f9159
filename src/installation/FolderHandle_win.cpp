#include "FolderHandle.h"

#include "FilePlatform.h"

#include <QDir>
#include <QFileInfo>
#include <QVarLengthArray>

#include <cstring>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

struct FolderHandle::Handle {
    Handle(HANDLE folder, const QString& folderPath)
        : handle(folder)
        , path(folderPath)
    {
    }
    ~Handle() { CloseHandle(handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    const HANDLE handle;
    // The folder's final path, where the handle's folder is now: what lies
    // below it is opened from there, each entry without following a
    // reparse point, and checked on its own handle.
    const QString path;
};

namespace {

const DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
const DWORD EntryFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;

std::wstring native(const QString& path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString finalPath(HANDLE handle)
{
    wchar_t buffer[MAX_PATH + 1];
    DWORD length = GetFinalPathNameByHandleW(handle, buffer, MAX_PATH + 1, FILE_NAME_NORMALIZED);
    if (length == 0)
        return QString();
    if (length <= MAX_PATH)
        return QString::fromWCharArray(buffer, int(length));
    QVarLengthArray<wchar_t> longer(int(length) + 1);
    length = GetFinalPathNameByHandleW(handle, longer.data(), length + 1, FILE_NAME_NORMALIZED);
    return length == 0 ? QString() : QString::fromWCharArray(longer.data(), int(length));
}

FolderHandle::Kind kindOf(DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return FolderHandle::Kind::Missing;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return FolderHandle::Kind::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FolderHandle::Kind::Folder : FolderHandle::Kind::File;
}

// Opens an entry itself, never what a reparse point in its place leads to.
HANDLE openEntry(const QString& path, DWORD access, DWORD share, DWORD disposition)
{
    return CreateFileW(native(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | EntryFlags,
                       nullptr);
}

bool deleteByHandle(HANDLE entry)
{
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(entry, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// Gives a C run-time descriptor of the handle to the QFile.
bool openQFile(QFile& file, HANDLE handle, int flags, QIODevice::OpenMode mode)
{
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return false;
    }
    if (!file.open(fd, mode, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        return false;
    }
    return true;
}

HANDLE handleOf(QFile& file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
}

} // namespace

FolderHandle::FolderHandle() = default;

FolderHandle::FolderHandle(const QSharedPointer<Handle>& handle)
    : m_handle(handle)
{
}

bool FolderHandle::fail(const QString& note)
{
    return failWith(int(GetLastError()), note);
}

bool FolderHandle::failWith(int error, const QString& note)
{
    m_existing = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS || error == ERROR_DIR_NOT_EMPTY;
    m_error = FilePlatform::errorText(error);
    if (!note.isEmpty())
        m_error += QLatin1Char(' ') + note;
    return false;
}

FolderHandle FolderHandle::open(const QString& path)
{
    const HANDLE folder = CreateFileW(native(QFileInfo(path).absoluteFilePath()).c_str(), FILE_LIST_DIRECTORY,
                                      ShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        FolderHandle failed;
        failed.fail();
        return failed;
    }
    return FolderHandle(QSharedPointer<Handle>::create(folder, finalPath(folder)));
}

bool FolderHandle::isOpen() const
{
    return !m_handle.isNull();
}

FolderHandle FolderHandle::openFolder(const QString& relativePath, bool create)
{
    FolderHandle opened;
    if (!isOpen()) {
        opened.m_error = m_error;
        return opened;
    }
    QSharedPointer<Handle> current = m_handle;
    const QStringList parts = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            opened.failWith(ERROR_INVALID_NAME);
            return opened;
        }
        const QString path = current->path + QLatin1Char('\\') + part;
        if (create && !CreateDirectoryW(native(path).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            opened.fail();
            return opened;
        }
        const HANDLE folder = openEntry(path, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | DELETE, ShareAll,
                                        OPEN_EXISTING);
        if (folder == INVALID_HANDLE_VALUE) {
            opened.fail();
            return opened;
        }
        BY_HANDLE_FILE_INFORMATION info;
        if (!GetFileInformationByHandle(folder, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            CloseHandle(folder);
            opened.failWith(ERROR_DIRECTORY);
            return opened;
        }
        current = QSharedPointer<Handle>::create(folder, finalPath(folder));
    }
    opened.m_handle = current;
    return opened;
}

FolderHandle FolderHandle::createFolder(const QString& name)
{
    FolderHandle made;
    if (!isOpen() || !CreateDirectoryW(native(m_handle->path + QLatin1Char('\\') + name).c_str(), nullptr)) {
        made.fail();
        return made;
    }
    return openFolder(name, false);
}

// Who may write a folder is its access list's business, which new folders
// inherit from the installation folder's own list.
FolderHandle::Owner FolderHandle::owner() const
{
    return Owner::Caller;
}

FolderHandle::Owner FolderHandle::ownerOf(QFile&)
{
    return Owner::Caller;
}

bool FolderHandle::othersMayWrite() const
{
    return false;
}

bool FolderHandle::makePrivate()
{
    return true;
}

bool FolderHandle::isEntryOf(const FolderHandle& parent, const QString& name) const
{
    if (!isOpen() || !parent.isOpen())
        return false;
    const HANDLE named = openEntry(parent.m_handle->path + QLatin1Char('\\') + name, FILE_READ_ATTRIBUTES, ShareAll,
                                   OPEN_EXISTING);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION mine;
    BY_HANDLE_FILE_INFORMATION theirs;
    const bool same = GetFileInformationByHandle(m_handle->handle, &mine) && GetFileInformationByHandle(named, &theirs)
                      && mine.dwVolumeSerialNumber == theirs.dwVolumeSerialNumber
                      && mine.nFileIndexHigh == theirs.nFileIndexHigh && mine.nFileIndexLow == theirs.nFileIndexLow;
    CloseHandle(named);
    return same;
}

FolderHandle::Kind FolderHandle::kind(const QString& relativePath) const
{
    if (!isOpen())
        return Kind::Missing;
    return kindOf(GetFileAttributesW(native(m_handle->path + QLatin1Char('\\') + relativePath).c_str()));
}

bool FolderHandle::list(QVector<Entry>* entries)
{
    entries->clear();
    WIN32_FIND_DATAW found;
    const std::wstring pattern = native(m_handle->path) + L"\\*";
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                           FIND_FIRST_EX_LARGE_FETCH);
    if (search == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND || fail();
    do {
        const bool dots = found.cFileName[0] == L'.'
                          && (found.cFileName[1] == L'\0' || (found.cFileName[1] == L'.' && found.cFileName[2] == L'\0'));
        if (dots)
            continue;
        entries->append({QString::fromWCharArray(found.cFileName), kindOf(found.dwFileAttributes)});
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool FolderHandle::createFile(QFile& file, const QString& relativePath, QIODevice::OpenMode mode)
{
    const bool reads = mode & QIODevice::ReadOnly;
    const HANDLE created = openEntry(m_handle->path + QLatin1Char('\\') + relativePath,
                                     GENERIC_WRITE | (reads ? GENERIC_READ : 0), FILE_SHARE_READ, CREATE_NEW);
    if (created == INVALID_HANDLE_VALUE)
        return fail();
    if (!openQFile(file, created, reads ? _O_RDWR : _O_WRONLY, mode))
        return failWith(ERROR_INVALID_HANDLE);
    return true;
}

// Opens an existing file (or, with OPEN_ALWAYS, one made when missing) by
// its own handle; anything but a file in its place is refused.
bool FolderHandle::openRegularFile(QFile& file, const QString& relativePath, bool forWriting, DWORD disposition)
{
    const HANDLE opened = openEntry(m_handle->path + QLatin1Char('\\') + relativePath,
                                    GENERIC_READ | (forWriting ? GENERIC_WRITE : 0), FILE_SHARE_READ, disposition);
    if (opened == INVALID_HANDLE_VALUE)
        return fail();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(opened, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(opened);
        return failWith(ERROR_INVALID_PARAMETER, QStringLiteral("(not a file)"));
    }
    if (!openQFile(file, opened, forWriting ? _O_RDWR : _O_RDONLY,
                   forWriting ? QIODevice::ReadWrite : QIODevice::ReadOnly))
        return failWith(ERROR_INVALID_HANDLE);
    return true;
}

bool FolderHandle::openFile(QFile& file, const QString& relativePath)
{
    return openRegularFile(file, relativePath, false, OPEN_EXISTING);
}

bool FolderHandle::openFileForUpdate(QFile& file, const QString& relativePath, bool create)
{
    return openRegularFile(file, relativePath, true, create ? OPEN_ALWAYS : OPEN_EXISTING);
}

// A file opened on Windows cannot be renamed or replaced while it is open
// without FILE_SHARE_DELETE, so its name still stands for it.
QString FolderHandle::pathOfOpenFile(QFile&, const QString& name)
{
    return name;
}

// Windows keeps no mode bits: a file that its owner may write has nothing
// to change.
bool FolderHandle::setPermissions(QFile& file, QFile::Permissions permissions)
{
    if (permissions & (QFile::WriteOwner | QFile::WriteUser))
        return true;
    FILE_BASIC_INFO basic;
    std::memset(&basic, 0, sizeof(basic));
    basic.FileAttributes = FILE_ATTRIBUTE_READONLY;
    if (SetFileInformationByHandle(handleOf(file), FileBasicInfo, &basic, sizeof(basic)))
        return true;
    return fail();
}

bool FolderHandle::flushFile(QFile& file)
{
    if (FlushFileBuffers(handleOf(file)))
        return true;
    return fail();
}

bool FolderHandle::rename(const QString& from, FolderHandle& target, const QString& to, bool replace)
{
    m_existing = false;
    const QString source = m_handle->path + QLatin1Char('\\') + QDir::toNativeSeparators(from);
    const QString destination = target.m_handle->path + QLatin1Char('\\') + QDir::toNativeSeparators(to);
    const HANDLE entry = openEntry(source, DELETE | SYNCHRONIZE, ShareAll, OPEN_EXISTING);
    if (entry == INVALID_HANDLE_VALUE)
        return fail();
    // Renamed by its own handle: what is moved is the entry that was
    // opened, whatever its name stands for by then.
    const std::wstring name = native(destination);
    const DWORD size = DWORD(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    // Kept in 8-byte units: the structure wants its alignment.
    std::vector<quint64> buffer(size / sizeof(quint64) + 1, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = replace ? TRUE : FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = DWORD(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.c_str(), name.size() * sizeof(wchar_t));
    const BOOL renamed = SetFileInformationByHandle(entry, FileRenameInfo, info, size);
    const DWORD error = renamed ? ERROR_SUCCESS : GetLastError();
    CloseHandle(entry);
    if (renamed)
        return true;
    if (error != ERROR_NOT_SAME_DEVICE)
        return failWith(int(error));
    // Another volume: copied, then the original goes.
    if (MoveFileExW(native(source).c_str(), name.c_str(),
                    MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
        return true;
    return fail();
}

bool FolderHandle::remove(const QString& relativePath)
{
    const HANDLE entry =
        openEntry(m_handle->path + QLatin1Char('\\') + relativePath, DELETE | FILE_READ_ATTRIBUTES, ShareAll, OPEN_EXISTING);
    if (entry == INVALID_HANDLE_VALUE)
        return fail();
    BY_HANDLE_FILE_INFORMATION info;
    // A folder goes only when it is a reparse point: the point itself.
    const bool isFolder = GetFileInformationByHandle(entry, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                          && !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    const bool removed = !isFolder && deleteByHandle(entry);
    const DWORD error = removed ? ERROR_SUCCESS : (isFolder ? DWORD(ERROR_DIRECTORY) : GetLastError());
    CloseHandle(entry);
    return removed || failWith(int(error));
}

bool FolderHandle::removeFolder(const QString& relativePath)
{
    const HANDLE entry = openEntry(m_handle->path + QLatin1Char('\\') + relativePath, DELETE, ShareAll, OPEN_EXISTING);
    if (entry == INVALID_HANDLE_VALUE)
        return fail();
    const bool removed = deleteByHandle(entry);
    const DWORD error = removed ? ERROR_SUCCESS : GetLastError();
    CloseHandle(entry);
    return removed || failWith(int(error));
}

bool FolderHandle::removeTree(const QString& name)
{
    switch (kind(name)) {
    case Kind::Missing:
        return true;
    case Kind::Folder:
        break;
    default:
        // A file, or a reparse point: removed itself.
        return remove(name);
    }
    FolderHandle folder = openFolder(name, false);
    if (!folder.isOpen()) {
        m_error = folder.errorString();
        return false;
    }
    QVector<Entry> entries;
    bool complete = folder.list(&entries);
    for (const Entry& entry : qAsConst(entries))
        complete = folder.removeTree(entry.name) && complete;
    if (!complete) {
        m_error = folder.errorString();
        return false;
    }
    folder = FolderHandle();
    return removeFolder(name);
}

// NTFS journals its metadata: a rename is durable in order with the data
// flushed after it, and folders cannot be flushed on their own.
bool FolderHandle::flush()
{
    return true;
}

// A folder cannot be locked on Windows: the lock file alone serves.
FolderHandle::LockResult FolderHandle::lockFolder()
{
    failWith(ERROR_NOT_SUPPORTED);
    return LockResult::Failed;
}

void FolderHandle::unlockFolder()
{
}

FolderHandle::LockResult FolderHandle::openLockFile(QFile& file, const QString& name)
{
    // Opened without FILE_SHARE_DELETE, by every installer: the file cannot
    // be removed while another one has it open, so the file that an
    // installer locks is always the one its name stands for.
    const QString path = m_handle->path + QLatin1Char('\\') + name;
    HANDLE lock = openEntry(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS);
    if (lock == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        lock = openEntry(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (lock == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        failWith(int(error));
        return error == ERROR_ACCESS_DENIED ? LockResult::NotAFile : LockResult::Failed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(lock, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(lock);
        failWith(ERROR_INVALID_PARAMETER, QStringLiteral("(not a file)"));
        return LockResult::NotAFile;
    }
    if (!openQFile(file, lock, _O_RDONLY, QIODevice::ReadOnly)) {
        failWith(ERROR_INVALID_HANDLE);
        return LockResult::Failed;
    }
    return LockResult::Locked;
}

FolderHandle::LockResult FolderHandle::lockFile(QFile& file, const QString&)
{
    OVERLAPPED whole = {};
    if (LockFileEx(handleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole))
        return LockResult::Locked;
    const DWORD error = GetLastError();
    file.close();
    failWith(int(error));
    return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? LockResult::Busy : LockResult::Failed;
}

void FolderHandle::unlockFile(QFile& file, const QString& name)
{
    if (!file.isOpen())
        return;
    file.close();
    // Fails while another installer has the file open (it waits for it);
    // the last one to let go removes it.
    if (isOpen())
        DeleteFileW(native(m_handle->path + QLatin1Char('\\') + name).c_str());
}
