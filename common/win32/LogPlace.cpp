#include "common/LogPlace.h"

#include <algorithm>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include "common/win32/WideText.h"

std::string LogFolder()
{
    PWSTR path = nullptr;
    std::string folder;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &path)))
        folder = WideToUtf8(path) + "/Quorvel/logs";
    CoTaskMemFree(path);
    std::replace(folder.begin(), folder.end(), '\\', '/');
    return folder;
}

// Appending only, so every write lands at the end; shared for deleting
// too, so the file can be renamed while another copy holds it.
FILE* OpenAppend(const std::string& path)
{
    HANDLE handle = CreateFileW(Utf8ToWide(path).c_str(), FILE_APPEND_DATA,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_APPEND | _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    FILE* file = _fdopen(fd, "ab");
    if (!file)
        _close(fd);
    return file;
}
