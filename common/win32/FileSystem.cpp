#include "common/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <string_view>
#include <windows.h>
#include <winioctl.h>

#include "common/win32/WideText.h"

namespace fsys {

namespace {

// The errno value of the last Windows error, so callers name causes alike
// on every system.
int ErrnoOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return EEXIST;
    case ERROR_CANT_RESOLVE_FILENAME:
    case ERROR_CANT_ACCESS_FILE:
        return ELOOP;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    default:
        return EIO;
    }
}

template <typename T>
T Failed(T result)
{
    errno = ErrnoOf(GetLastError());
    return result;
}

HANDLE Native(Handle file)
{
    return reinterpret_cast<HANDLE>(file);
}

bool IsLink(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// A full path ("X:\..." or "\\server\share\...") without "." or ".."
// levels or doubled separators: one the system would only normalise by
// dropping trailing dots and spaces or reading device names, which a name
// read from the disk may have.
bool IsPlainFullPath(const std::wstring& path)
{
    bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    bool unc = StartsWith(path, L"\\\\") && path.size() > 2 && path[2] != L'\\';
    if (!drive && !unc)
        return false;
    for (size_t start = drive ? 3 : 2; start < path.size();) {
        size_t end = std::min(path.find(L'\\', start), path.size());
        std::wstring_view level(path.data() + start, end - start);
        if ((level.empty() && end < path.size()) || level == L"." || level == L"..")
            return false;
        start = end + 1;
    }
    return true;
}

// What Windows makes of a path the user gave: relative to the current
// directory, with its "." and ".." levels resolved; the path itself when
// it cannot be resolved.
std::wstring Resolved(const std::wstring& path)
{
    DWORD size = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    DWORD n = size ? GetFullPathNameW(path.c_str(), size, full.data(), nullptr) : 0;
    if (n == 0 || n >= size)
        return path;
    full.resize(n);
    return full;
}

// The path as the system takes it: UTF-16, absolute, with the "\\?\"
// prefix, so that no limit of 260 characters applies and the system
// changes nothing after the program's own checks. Only a path that is not
// a plain full one (a path the user gave) is resolved first, as Windows
// resolves it.
std::wstring SystemPath(const std::string& path)
{
    std::wstring wide = Utf8ToWide(path.empty() ? "." : path);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    if (StartsWith(wide, L"\\\\?\\") || StartsWith(wide, L"\\\\.\\"))
        return wide;
    std::wstring full = IsPlainFullPath(wide) ? wide : Resolved(wide);
    while (full.size() > 3 && full.back() == L'\\')
        full.pop_back();
    if (StartsWith(full, L"\\\\.\\") || !IsPlainFullPath(full))
        return full;  // a device the user named, or a path Windows could not resolve
    if (StartsWith(full, L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// `name` inside `directory`, in the system's form.
std::wstring Inside(const std::string& directory, const wchar_t* name)
{
    std::wstring path = SystemPath(directory);
    if (path.back() != L'\\')
        path += L'\\';
    return path + name;
}

// The path in the program's form: UTF-8, '/' between levels, no prefix.
std::string ProgramPath(std::wstring path)
{
    if (StartsWith(path, L"\\\\?\\UNC\\"))
        path.erase(2, 6);  // "\\server\share"
    else if (StartsWith(path, L"\\\\?\\"))
        path.erase(0, 4);
    std::string utf8 = WideToUtf8(path);
    for (char& c : utf8)
        if (c == '\\')
            c = '/';
    return utf8;
}

// CON, PRN, AUX, NUL, COM0-9 and LPT0-9 (also with a superscript digit),
// CONIN$ and CONOUT$, in any case.
bool IsDeviceName(std::string base)
{
    for (char& c : base)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" || base == "CONOUT$")
        return true;
    if (base.rfind("COM", 0) != 0 && base.rfind("LPT", 0) != 0)
        return false;
    std::string digit = base.substr(3);
    return (digit.size() == 1 && std::isdigit(static_cast<unsigned char>(digit[0]))) || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

OVERLAPPED At(int64_t offset)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

}  // namespace

// A reparse point (a link or junction) in the file's own place is opened as
// itself and then refused, as O_NOFOLLOW refuses a symbolic link.
Handle Open(const std::string& path, Mode mode)
{
    DWORD access = mode == Mode::Read ? GENERIC_READ : mode == Mode::ReadWrite ? GENERIC_READ | GENERIC_WRITE : GENERIC_WRITE;
    DWORD disposition = mode == Mode::Read ? OPEN_EXISTING : mode == Mode::ReadWrite ? OPEN_ALWAYS : CREATE_ALWAYS;
    HANDLE file = CreateFileW(SystemPath(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, disposition, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Failed(kNoFile);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        CloseHandle(file);
        errno = ELOOP;
        return kNoFile;
    }
    return reinterpret_cast<Handle>(file);
}

bool Close(Handle file)
{
    return CloseHandle(Native(file)) || Failed(false);
}

// Positioned writes: each call names its offset, so the workers' writes to
// one handle never race over a shared file pointer.
bool WriteAt(Handle file, const char* bytes, size_t length, int64_t offset)
{
    while (length > 0) {
        DWORD chunk = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
        OVERLAPPED at = At(offset);
        DWORD written = 0;
        if (!WriteFile(Native(file), bytes, chunk, &written, &at) || written == 0)
            return Failed(false);
        bytes += written;
        length -= written;
        offset += written;
    }
    return true;
}

int64_t ReadAt(Handle file, char* bytes, size_t length, int64_t offset)
{
    DWORD chunk = length > (1u << 30) ? (1u << 30) : static_cast<DWORD>(length);
    OVERLAPPED at = At(offset);
    DWORD read = 0;
    if (!ReadFile(Native(file), bytes, chunk, &read, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : Failed(int64_t(-1));
    return read;
}

// NTFS extends a file without writing it, and a later write beyond what
// was written makes it write zeros up to there first, synchronously: the
// first write of the last segment of a file of gigabytes would hold the
// file for a long time. A sparse file is never filled so (what was not
// written reads as zeros); its clusters come with the writes, so nothing
// is reserved and the caller counts the room the file still needs. Where
// the file system has no sparse files (FAT) the file is extended as it is,
// which takes its clusters. A larger file keeps its size.
int Allocate(Handle file, int64_t size, bool& reserved)
{
    reserved = false;
    LARGE_INTEGER current;
    if (!GetFileSizeEx(Native(file), &current))
        return ErrnoOf(GetLastError());
    if (current.QuadPart >= size)
        return 0;
    DWORD returned = 0;
    bool sparse = DeviceIoControl(Native(file), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
    if (!SetSize(file, size))
        return errno;
    reserved = !sparse;
    return 0;
}

bool LockExclusive(Handle file)
{
    OVERLAPPED at = {};
    if (LockFileEx(Native(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at))
        return true;
    if (GetLastError() == ERROR_LOCK_VIOLATION) {
        errno = EWOULDBLOCK;
        return false;
    }
    return Failed(false);
}

bool SetSize(Handle file, int64_t size)
{
    FILE_END_OF_FILE_INFO end;
    end.EndOfFile.QuadPart = size;
    return SetFileInformationByHandle(Native(file), FileEndOfFileInfo, &end, sizeof end) || Failed(false);
}

int SyncData(Handle file)
{
    return Sync(file);
}

int Sync(Handle file)
{
    return FlushFileBuffers(Native(file)) ? 0 : Failed(-1);
}

// A file open elsewhere cannot be replaced on Windows: a reader of the side
// file, a virus scanner, the web server sending the old copy. Such holds
// are brief; the move is tried again for about a second before it fails.
bool Replace(const std::string& from, const std::string& to)
{
    std::wstring source = SystemPath(from), target = SystemPath(to);
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        DWORD error = GetLastError();
        bool held = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        if (!held || attempt == 40)
            return Failed(false);
        Sleep(25);
    }
}

bool Remove(const std::string& path)
{
    return DeleteFileW(SystemPath(path).c_str()) || Failed(false);
}

bool MakeDir(const std::string& path)
{
    return CreateDirectoryW(SystemPath(path).c_str(), nullptr) || Failed(false);
}

Info Stat(const std::string& path, bool followLink)
{
    Info info;
    std::wstring wide = SystemPath(path);
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE file = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return Failed(info);
    BY_HANDLE_FILE_INFORMATION about;
    FILE_STANDARD_INFO standard;
    if (GetFileInformationByHandle(file, &about)) {
        info.exists = true;
        info.directory = about.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        info.regular = !info.directory && !IsLink(about.dwFileAttributes);
        info.size = (int64_t(about.nFileSizeHigh) << 32) | about.nFileSizeLow;
        info.allocated = info.size;
        info.volume = about.dwVolumeSerialNumber;
        info.id = (uint64_t(about.nFileIndexHigh) << 32) | about.nFileIndexLow;
        if (GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
            info.allocated = standard.AllocationSize.QuadPart;
    }
    CloseHandle(file);
    return info;
}

// A probe file says what access checks cannot (ACLs, read-only media).
bool CanWriteIn(const std::string& directory)
{
    std::wstring probe = Inside(directory, L".qv-write-probe");
    HANDLE file = CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS || Failed(false);
    CloseHandle(file);
    return true;
}

std::vector<std::string> List(const std::string& directory)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(Inside(directory, L"*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(WideToUtf8(name));
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return names;
}

// Windows' rules for a name: none of <>:"|?* or control characters; no
// trailing dot or space (Windows would drop them, so the name would not be
// the one asked for); not a device's name, with or without an extension
// ("CON", "nul.mp4", "COM1"), which would reach the device instead.
std::string FitName(const std::string& utf8Name)
{
    std::string name = utf8Name;
    for (char& c : name)
        if ((c != 0 && static_cast<unsigned char>(c) < 0x20) || std::string_view("<>:\"|?*").find(c) != std::string_view::npos)
            c = '_';
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    size_t baseEnd = std::min(name.find('.'), name.size());
    size_t baseText = name.find_last_not_of(' ', baseEnd == 0 ? 0 : baseEnd - 1);
    if (baseEnd > 0 && IsDeviceName(name.substr(0, baseText + 1)))
        name.insert(baseEnd, "_");
    return name;
}

size_t NameLength(const std::string& name)
{
    return Utf8ToWide(name).size();
}

std::string Canonical(const std::string& path)
{
    std::string full = ProgramPath(SystemPath(path));
    while (full.size() > 3 && full.back() == '/')
        full.pop_back();
    return full;
}

int64_t FreeBytes(const std::string& directory)
{
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExW(Inside(directory, L"").c_str(), &available, nullptr, nullptr))
        return Failed(int64_t(-1));
    return static_cast<int64_t>(available.QuadPart);
}

std::string FileKey(const std::string& path)
{
    std::wstring wide = Utf8ToWide(path);
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.data(), static_cast<int>(wide.size()), wide.data(),
                  static_cast<int>(wide.size()), nullptr, nullptr, 0);
    return WideToUtf8(wide);
}

}  // namespace fsys
