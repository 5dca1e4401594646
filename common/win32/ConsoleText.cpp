#include "common/ConsoleText.h"

#include <io.h>
#include <string>
#include <windows.h>

#include "common/win32/WideText.h"

// The C runtime would write the bytes to a console one by one or through
// the locale's code page: UTF-8 would not survive either way.
void WriteText(FILE* stream, std::string_view text)
{
    HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode;
    if (!GetConsoleMode(handle, &mode)) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    std::fflush(stream);
    std::wstring wide = Utf8ToWide(text);
    DWORD written;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
}

// An output handed down (a file, a pipe, NUL, a console already) is kept.
// The parent's console comes back as the runtime's stdout, so WriteText
// finds it a console.
void UseParentConsole()
{
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN)
        return;
    if (AttachConsole(ATTACH_PARENT_PROCESS))
        std::freopen("CONOUT$", "w", stdout);
}
