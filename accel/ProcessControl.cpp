#include "accel/ProcessControl.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <system_error>
#include <vector>

#include "common/Trace.h"

extern char** environ;

namespace {

// The executable's file name: the base name of /proc/<pid>/exe, or the
// command name when the link cannot be read (another user's process).
std::string ExecutableName(pid_t pid)
{
    std::string proc = "/proc/" + std::to_string(pid);
    char target[4096];
    ssize_t n = readlink((proc + "/exe").c_str(), target, sizeof target - 1);
    if (n > 0) {
        std::string path(target, n);
        return path.substr(path.rfind('/') + 1);
    }
    std::string comm;
    std::getline(std::ifstream(proc + "/comm"), comm);
    return comm;
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

pid_t WinExec(const std::string& path, const std::string& directory)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        DebugLog("acceleration start %s: %s", path.c_str(), std::strerror(rc));
        return 0;
    }
    try {
        std::thread([pid] {
            int status = 0;
            waitpid(pid, &status, 0);
        }).detach();
    } catch (const std::system_error&) {
        // Without its reaper the server would linger as a zombie under its
        // name once it ends: it is not started at all.
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        DebugLog("acceleration start %s: no thread to wait for it", path.c_str());
        return 0;
    }
    DebugLog("acceleration start %s: pid %d", path.c_str(), static_cast<int>(pid));
    return pid;
}

pid_t FindProcessByName(const std::string& name)
{
    for (pid_t pid : ProcessIds())
        if (ExecutableName(pid) == name)
            return pid;
    return 0;
}

bool StopAccelerationService(int& lastError)
{
    pid_t pid = FindProcessByName(AccelerationServerName());
    lastError = pid == 0 ? ESRCH : kill(pid, SIGKILL) != 0 ? errno : 0;
    DebugLog("acceleration stop pid %d: %s", static_cast<int>(pid), lastError ? std::strerror(lastError) : "killed");
    return lastError == 0;
}
