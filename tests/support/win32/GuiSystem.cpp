// The window tests' system parts on Windows: the session's end messages,
// windows of the test's own made with Win32, the foreground, keyboard
// input as a person types it, the client started with CreateProcessW.
#include "tests/support/GuiSystem.h"

#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>
#include <windows.h>

#include "common/win32/WideText.h"
#include "tests/support/Eventually.h"
#include "tests/support/GuiTest.h"

using namespace std::chrono_literals;

namespace {

HWND Native(TopWindow window)
{
    return reinterpret_cast<HWND>(window);
}

// The variable that names the desktop of the test's own to the copy of
// the test program that runs there.
constexpr const wchar_t* kDesktopVariable = L"QUORVEL_TEST_DESKTOP";

std::wstring OwnDesktop()
{
    wchar_t name[256] = {};
    DWORD length = GetEnvironmentVariableW(kDesktopVariable, name, 256);
    return length > 0 && length < 256 ? std::wstring(name, length) : std::wstring();
}

// A crash ends the test program with a line on stderr, instead of
// waiting on a debugger (Wine's opens a dialog where it has a display).
LONG WINAPI ReportCrash(EXCEPTION_POINTERS* info)
{
    std::fprintf(stderr, "crashed: exception %#lx at %p\n", info->ExceptionRecord->ExceptionCode,
                 info->ExceptionRecord->ExceptionAddress);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

// The top-level windows of process `pid`, hidden ones too, as Windows
// sends the session's end to all of them.
std::vector<HWND> WindowsOf(DWORD pid)
{
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->pid)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void QueryEndSession(DWORD pid)
{
    for (HWND window : WindowsOf(pid)) {
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG, 5000, &answer);
    }
}

void Key(WORD key, wchar_t unit = 0)
{
    INPUT input[2] = {};
    for (INPUT& i : input) {
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = key;
        i.ki.wScan = unit;
        i.ki.dwFlags = unit ? KEYEVENTF_UNICODE : 0;
    }
    input[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof input[0]);
}

void Type(const char* utf8)
{
    for (wchar_t unit : Utf8ToWide(utf8))
        Key(0, unit);
}

}  // namespace

// The tests run in a copy of this program started on a desktop of its
// own: Wine starts that desktop's process on this program's display,
// whatever display (or none) the default desktop got from the programs
// that share the Wine prefix, and tests running at once see neither each
// other's windows by caption nor each other's foreground. (A program cannot
// move there itself: its libraries take the desktop's display as they
// load.) wine-run gave Wine the display.
bool PrepareTestDesktop(int& result)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(ReportCrash);
    if (!OwnDesktop().empty())
        return true;  // the copy
    std::wstring name = L"quorvel-test-" + std::to_wstring(GetCurrentProcessId());
    HDESK desktop = CreateDesktopW(name.c_str(), nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    if (!desktop)
        return true;  // the default desktop, then
    SetEnvironmentVariableW(kDesktopVariable, name.c_str());
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = name.data();
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command = GetCommandLineW();
    PROCESS_INFORMATION copy = {};
    // Wine under load now and then fails a start on a new desktop (1359).
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt)
        started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &copy);
    if (!started) {
        std::fprintf(stderr, "cannot start the tests on a desktop of their own: error %lu\n", GetLastError());
        result = 1;
        return false;
    }
    CloseHandle(copy.hThread);
    WaitForSingleObject(copy.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(copy.hProcess, &code);
    CloseHandle(copy.hProcess);
    CloseDesktop(desktop);
    result = static_cast<int>(code);
    return false;
}

void AskThisProgramToEnd()
{
    QueryEndSession(GetCurrentProcessId());
}

// The handler stays bound; nothing else in the tests ends the session.
void StopWatchingSessionEnd() {}

// What ships (the zip, the installer's program directory), copied.
std::string InstallClientUnder(const std::string& base)
{
    namespace fs = std::filesystem;
    fs::path program = fs::path(base) / "Program Files 'q' {x}";
    std::error_code error;
    fs::create_directories(program, error);
    for (const char* file : {"quorvel-client.exe", "qv-download.exe", "caddy.exe", "Caddyfile"})
        if (!fs::copy_file(fs::path(QUORVEL_PROGRAM_DIR) / file, program / file, error))
            return std::string();
    return program.generic_string();
}

Utf8FileNames::Utf8FileNames() = default;

Utf8FileNames::~Utf8FileNames() = default;

struct ClientProcess::Process {
    PROCESS_INFORMATION info = {};
};

ClientProcess::ClientProcess() : ClientProcess(QUORVEL_CLIENT_PATH, {}) {}

// Each word quoted: no argument of the tests holds a quote.
ClientProcess::ClientProcess(const std::string& program, const std::vector<std::string>& arguments)
    : m_process(std::make_unique<Process>())
{
    std::wstring path = Utf8ToWide(program);
    std::wstring command = L"\"" + path + L"\"";
    for (const std::string& argument : arguments)
        command += L" \"" + Utf8ToWide(argument) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    std::wstring desktop = OwnDesktop();
    startup.lpDesktop = desktop.empty() ? nullptr : desktop.data();
    if (!CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &m_process->info))
        m_process->info = {};
    else
        CloseHandle(m_process->info.hThread);
}

ClientProcess::~ClientProcess()
{
    if (!m_process->info.hProcess)
        return;
    if (WaitForSingleObject(m_process->info.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(m_process->info.hProcess, 1);
        WaitForSingleObject(m_process->info.hProcess, 10000);
    }
    CloseHandle(m_process->info.hProcess);
}

bool ClientProcess::Started() const
{
    return m_process->info.hProcess != nullptr;
}

int ClientProcess::Wait(std::chrono::milliseconds limit)
{
    if (!Started())
        return -1;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (WaitForSingleObject(m_process->info.hProcess, 0) == WAIT_TIMEOUT) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        PumpEvents();
        std::this_thread::sleep_for(10ms);
    }
    DWORD code = 0;
    GetExitCodeProcess(m_process->info.hProcess, &code);
    return static_cast<int>(code);
}

void ClientProcess::AskToEnd()
{
    if (Started())
        QueryEndSession(m_process->info.dwProcessId);
}

struct ForeignWindow::Native {
    HWND window = nullptr;
};

ForeignWindow::ForeignWindow(const char* caption) : m_native(std::make_unique<Native>())
{
    static const wchar_t* kClass = [] {
        WNDCLASSW c = {};
        c.lpfnWndProc = DefWindowProcW;
        c.hInstance = GetModuleHandleW(nullptr);
        c.lpszClassName = L"QuorvelTestForeignWindow";
        RegisterClassW(&c);
        return c.lpszClassName;
    }();
    m_native->window = CreateWindowExW(0, kClass, Utf8ToWide(caption).c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 80, 40,
                                       nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ShowWindow(m_native->window, SW_SHOWNORMAL);
}

ForeignWindow::~ForeignWindow()
{
    DestroyWindow(m_native->window);
}

TopWindow ForeignWindow::Handle() const
{
    return reinterpret_cast<TopWindow>(m_native->window);
}

void ForeignWindow::TakeFocus()
{
    SetForegroundWindow(m_native->window);
    Eventually([&] { return GetForegroundWindow() == m_native->window; }, 5s);
}

TopWindow FocusedTopWindow()
{
    return reinterpret_cast<TopWindow>(GetForegroundWindow());
}

bool WaitUntilShown(TopWindow window)
{
    return Eventually([&] { return IsWindowVisible(Native(window)) && GetForegroundWindow() == Native(window); }, 10s);
}

// Keys go to the control that has the focus in the foreground window:
// typed once the window shows one of its controls focused.
bool SignInByKeyboard(const char* caption, const char* user, const char* password)
{
    HWND window = nullptr;
    if (!Eventually([&] { return (window = Native(FindTopWindow(caption))) != nullptr; }, 20s))
        return false;
    ActivateTopWindow(reinterpret_cast<TopWindow>(window));
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    bool focused = Eventually([&] {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        return GetForegroundWindow() == window && GetGUIThreadInfo(thread, &info) && info.hwndFocus &&
               IsChild(window, info.hwndFocus);
    }, 20s);
    if (!focused)
        return false;
    Type(user);
    Key(VK_TAB);
    Type(password);
    Key(VK_RETURN);
    return true;
}
