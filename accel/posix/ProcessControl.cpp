#include "accel/ProcessControl.h"

#include "accel/posix/ProcessList.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "common/CodePage.h"
#include "common/Trace.h"

extern char** environ;

namespace {

std::string ProcFile(pid_t pid, const char* name)
{
    return "/proc/" + std::to_string(pid) + "/" + name;
}

// The executable's file name: the base name of /proc/<pid>/exe (without the
// mark of a file replaced since it started), or the command name when the
// link cannot be read (another user's process).
std::string ExecutableName(pid_t pid)
{
    static const std::string kDeleted = " (deleted)";
    char target[4096];
    ssize_t n = readlink(ProcFile(pid, "exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, n);
        if (path.size() > kDeleted.size() && path.compare(path.size() - kDeleted.size(), kDeleted.size(), kDeleted) == 0)
            path.resize(path.size() - kDeleted.size());
        return path.substr(path.rfind('/') + 1);
    }
    std::string comm;
    std::getline(std::ifstream(ProcFile(pid, "comm")), comm);
    return comm;
}

// A zombie has ended: only its parent has not collected it yet.
bool IsZombie(pid_t pid)
{
    std::string stat;
    std::getline(std::ifstream(ProcFile(pid, "stat")), stat);
    size_t close = stat.rfind(')');
    return close == std::string::npos || stat.compare(close, 3, ") Z") == 0;
}

bool CommandLineHolds(pid_t pid, const std::string& argument)
{
    std::ifstream file(ProcFile(pid, "cmdline"), std::ios::binary);
    for (std::string word; std::getline(file, word, '\0');)
        if (word == argument)
            return true;
    return false;
}

std::vector<pid_t> ProcessIds()
{
    std::vector<pid_t> pids;
    if (DIR* proc = opendir("/proc")) {
        while (dirent* entry = readdir(proc)) {
            char* end = nullptr;
            long pid = std::strtol(entry->d_name, &end, 10);
            if (pid > 0 && *end == '\0')
                pids.push_back(static_cast<pid_t>(pid));
        }
        closedir(proc);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// Whether the entry "NAME=value" names one of `entries`' variables.
bool NamedIn(const char* entry, const std::vector<std::string>& entries)
{
    size_t length = std::strcspn(entry, "=");
    for (const std::string& other : entries)
        if (other.size() > length && other[length] == '=' && other.compare(0, length, entry, length) == 0)
            return true;
    return false;
}

}  // namespace

bool IsWow64()
{
    if (sizeof(void*) != 4)
        return false;
    utsname system;
    if (uname(&system) != 0)
        return false;
    std::string machine = system.machine;
    return machine == "x86_64" || machine == "aarch64";
}

const char* AccelerationServerName()
{
    return IsWow64() ? "caddy_64" : "caddy";
}

pid_t WinExec(const std::string& path, const std::string& directory, const std::vector<std::string>& environment)
{
    // A variable given replaces the client's own of that name: with two,
    // the server would read the first.
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
        if (!NamedIn(*e, environment))
            env.push_back(*e);
    for (const std::string& entry : environment)
        env.push_back(const_cast<char*>(entry.c_str()));
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    // Nothing else of ours: not the toolkit's wake-up pipe, not a download's
    // socket, which the server would otherwise hold open for its whole life.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, env.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    DebugLog("acceleration start %s: %s", LocalToUtf8(path).c_str(),
             rc == 0 ? ("pid " + std::to_string(pid)).c_str() : std::strerror(rc));
    errno = rc;  // why it could not start, for the caller
    return rc == 0 ? pid : 0;
}

pid_t FindProcessByName(const std::string& name, const std::string& argument)
{
    for (pid_t pid : ProcessIds())
        if (ExecutableName(pid) == name && !IsZombie(pid) && (argument.empty() || CommandLineHolds(pid, argument)))
            return pid;
    return 0;
}

struct CServerProcess::Child {
    pid_t pid = 0;         // until collected
    int exitStatus = -1;   // of the child collected last, when it ended by itself
};

CServerProcess::CServerProcess() : m_child(std::make_unique<Child>()) {}

CServerProcess::~CServerProcess() = default;

// The launcher beside the Caddyfile runs the system's Caddy with it.
int CServerProcess::Launch(const std::string& directory, const std::vector<std::string>& environment)
{
    m_child->exitStatus = -1;
    m_child->pid = WinExec(directory + "/" + AccelerationServerName(), directory, environment);
    return m_child->pid != 0 ? 0 : errno;
}

bool CServerProcess::Running()
{
    if (m_child->pid == 0)
        return false;
    int status = 0;
    pid_t ended = waitpid(m_child->pid, &status, WNOHANG);
    if (ended == 0)
        return true;
    if (ended == m_child->pid)
        m_child->exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
    m_child->pid = 0;
    return false;
}

int CServerProcess::ExitStatus() const
{
    return m_child->exitStatus;
}

int CServerProcess::Kill()
{
    if (m_child->pid == 0)
        return ESRCH;
    if (kill(m_child->pid, SIGKILL) != 0)
        return errno;
    waitpid(m_child->pid, nullptr, 0);
    m_child->pid = 0;
    return 0;
}

ProcessId CServerProcess::Id() const
{
    return m_child->pid;
}

// Bound the way Caddy binds (SO_REUSEADDR), so connections of an earlier
// server still in TIME_WAIT do not count as a listener.
PortState LoopbackPortState(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return PortState::Free;
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int error = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
    close(fd);
    return error == EADDRINUSE ? PortState::Taken : error == EACCES || error == EPERM ? PortState::Reserved
                                                                                    : PortState::Free;
}

// The launcher runs Caddy with the canonical path of the Caddyfile, which
// is how a server of this directory is told from any other Caddy.
ProcessId FindServerOf(const std::string& directory)
{
    return FindProcessByName(AccelerationServerName(), directory + "/Caddyfile");
}

int KillProcess(ProcessId pid)
{
    if (pid <= 0)
        return ESRCH;
    if (kill(static_cast<pid_t>(pid), SIGKILL) != 0)
        return errno;
    for (int i = 0; i < 100 && kill(static_cast<pid_t>(pid), 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 0;
}
