#include "tools/Console.h"

#include <atomic>
#include <cstdlib>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "common/win32/WideText.h"

namespace {

std::function<void()> g_first;
int g_exitCode = 0;
std::atomic<int> g_requests{0};

// Windows calls this on a thread of its own. After a console close, log-off
// or shut-down the process is ended when it returns: it waits a little for
// the stop to save the side file.
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (g_requests++ > 0)
        std::_Exit(g_exitCode);
    g_first();
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        Sleep(4000);
    return TRUE;
}

}  // namespace

void WatchStopRequests(std::function<void()> first, int exitCode)
{
    g_first = std::move(first);
    g_exitCode = exitCode;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

bool StdoutIsTerminal()
{
    return _isatty(_fileno(stdout));
}

size_t TerminalColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return 80;
    int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<size_t>(columns) : 80;
}

std::vector<std::string> Arguments(int argc, char** argv)
{
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}
