#include "accel/ProcessControl.h"

#include <algorithm>
#include <cwctype>
#include <string_view>
#include <windows.h>
#include <tlhelp32.h>

#include "common/Trace.h"
#include "common/win32/WideText.h"

namespace {

// The design's exit code for a terminated server.
constexpr UINT kTerminatedCode = 4;

std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        c = c == L'\\' ? L'/' : std::towlower(c);
    return text;
}

std::wstring ImagePath(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return {};
    wchar_t path[32768];
    DWORD size = sizeof path / sizeof path[0];
    std::wstring image = QueryFullProcessImageNameW(process, 0, path, &size) ? std::wstring(path, size) : L"";
    CloseHandle(process);
    return image;
}

// The name of "NAME=value"; a name may begin with '=' ("=C:=C:\\dir").
std::wstring_view NameOf(std::wstring_view entry)
{
    return entry.substr(0, entry.find(L'=', 1));
}

// Windows compares the names of variables without regard to case.
bool NamedIn(std::wstring_view entry, const std::vector<std::wstring>& entries)
{
    std::wstring_view name = NameOf(entry);
    for (const std::wstring& other : entries) {
        std::wstring_view otherName = NameOf(other);
        if (CompareStringOrdinal(name.data(), static_cast<int>(name.size()), otherName.data(),
                                 static_cast<int>(otherName.size()), TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

// The client's environment with `added` ("NAME=value", UTF-8) after it,
// as a block for CreateProcessW. Each replaces the client's variable of
// its name, since Windows reads the first of two.
std::wstring EnvironmentBlock(const std::vector<std::string>& added)
{
    std::vector<std::wstring> own;
    for (const std::string& entry : added)
        own.push_back(Utf8ToWide(entry));
    std::wstring block;
    if (wchar_t* current = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = current; *entry; entry += wcslen(entry) + 1)
            if (!NamedIn(entry, own))
                block.append(entry).push_back(L'\0');
        FreeEnvironmentStringsW(current);
    }
    for (const std::wstring& entry : own)
        block.append(entry).push_back(L'\0');
    block.push_back(L'\0');
    return block;
}

// Standard streams on NUL, and only those inherited: not a download's
// socket, which the server would otherwise hold open for its whole life.
struct NullStreams {
    HANDLE input = INVALID_HANDLE_VALUE, output = INVALID_HANDLE_VALUE;
    NullStreams()
    {
        SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
        input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
        output = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    }
    ~NullStreams()
    {
        CloseHandle(input);
        CloseHandle(output);
    }
};

}  // namespace

bool IsWow64()
{
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

const char* AccelerationServerName()
{
    return IsWow64() ? "caddy_64.exe" : "caddy.exe";
}

struct CServerProcess::Child {
    PROCESS_INFORMATION info = {};
    HANDLE job = nullptr;  // ends the server when the client ends
    int exitStatus = -1;   // of the server collected last, when it ended by itself

    void Close()
    {
        if (info.hProcess)
            CloseHandle(info.hProcess);
        info = {};
    }
};

CServerProcess::CServerProcess() : m_child(std::make_unique<Child>()) {}

CServerProcess::~CServerProcess()
{
    m_child->Close();
    if (m_child->job)
        CloseHandle(m_child->job);
}

// caddy.exe beside the Caddyfile, run with it; Caddy keeps its own files
// inside the program directory.
int CServerProcess::Launch(const std::string& directory, const std::vector<std::string>& environment)
{
    m_child->exitStatus = -1;
    if (!m_child->job) {
        m_child->job = CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(m_child->job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    std::wstring dir = Utf8ToWide(directory);
    std::wstring exe = dir + L"/" + Utf8ToWide(AccelerationServerName());
    std::wstring command = L"\"" + exe + L"\" run --adapter caddyfile --config \"" + dir + L"/Caddyfile\"";
    std::vector<std::string> added = environment;
    added.push_back("QUORVEL_PROGRAM_DIR=" + directory);
    added.push_back("XDG_DATA_HOME=" + directory + "/.caddy/data");
    added.push_back("XDG_CONFIG_HOME=" + directory + "/.caddy/config");
    std::wstring block = EnvironmentBlock(added);

    NullStreams streams;
    HANDLE inherited[] = {streams.input, streams.output};
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<char> attributes(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    InitializeProcThreadAttributeList(list, 1, 0, &size);
    UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited, sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = streams.input;
    startup.StartupInfo.hStdOutput = streams.output;
    startup.StartupInfo.hStdError = streams.output;
    startup.lpAttributeList = list;
    m_child->Close();
    BOOL started = CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, TRUE,
                                  CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                                      EXTENDED_STARTUPINFO_PRESENT,
                                  block.data(), dir.c_str(), &startup.StartupInfo, &m_child->info);
    DWORD error = started ? 0 : GetLastError();
    DeleteProcThreadAttributeList(list);
    DebugLog("acceleration start %s: %s %lu", WideToUtf8(exe).c_str(), started ? "pid" : "error",
             started ? m_child->info.dwProcessId : error);
    if (!started)
        return static_cast<int>(error);
    AssignProcessToJobObject(m_child->job, m_child->info.hProcess);
    ResumeThread(m_child->info.hThread);
    CloseHandle(m_child->info.hThread);
    m_child->info.hThread = nullptr;
    return 0;
}

bool CServerProcess::Running()
{
    if (!m_child->info.hProcess)
        return false;
    if (WaitForSingleObject(m_child->info.hProcess, 0) == WAIT_TIMEOUT)
        return true;
    DWORD code = 0;
    m_child->exitStatus = GetExitCodeProcess(m_child->info.hProcess, &code) ? static_cast<int>(code) : -1;
    m_child->Close();
    return false;
}

int CServerProcess::ExitStatus() const
{
    return m_child->exitStatus;
}

int CServerProcess::Kill()
{
    if (!m_child->info.hProcess)
        return ERROR_INVALID_HANDLE;
    if (!TerminateProcess(m_child->info.hProcess, kTerminatedCode))
        return static_cast<int>(GetLastError());
    WaitForSingleObject(m_child->info.hProcess, 5000);
    m_child->Close();
    return 0;
}

ProcessId CServerProcess::Id() const
{
    return m_child->info.dwProcessId;
}

// Bound without options, as Go's listener binds on Windows; an excluded
// port range (Hyper-V, WinNAT) refuses with WSAEACCES.
PortState LoopbackPortState(int port)
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return PortState::Free;
    PortState state = PortState::Free;
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            int error = WSAGetLastError();
            state = error == WSAEADDRINUSE ? PortState::Taken : error == WSAEACCES ? PortState::Reserved : PortState::Free;
        }
        closesocket(s);
    }
    WSACleanup();
    return state;
}

// A caddy.exe whose image lies in `directory` was started by a client of
// that directory; one elsewhere is another program's.
ProcessId FindServerOf(const std::string& directory)
{
    std::wstring name = Utf8ToWide(AccelerationServerName());
    std::wstring wanted = Lower(Utf8ToWide(directory) + L"/" + name);
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0)
            ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    std::sort(ids.begin(), ids.end());
    for (DWORD id : ids)
        if (Lower(ImagePath(id)) == wanted)
            return id;
    return 0;
}

int KillProcess(ProcessId pid)
{
    if (pid <= 0)
        return ERROR_INVALID_PARAMETER;
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (!process)
        return static_cast<int>(GetLastError());
    int error = TerminateProcess(process, kTerminatedCode) ? 0 : static_cast<int>(GetLastError());
    if (error == 0)
        WaitForSingleObject(process, 1000);
    CloseHandle(process);
    return error;
}
