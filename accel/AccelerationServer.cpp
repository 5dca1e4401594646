#include "accel/AccelerationServer.h"

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sys/wait.h>
#include <thread>

#include "accel/ProcessControl.h"
#include "common/Trace.h"

namespace {

std::string NewToken()
{
    std::random_device random;
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", random(), random());
    return text;
}

long MsUntil(std::chrono::steady_clock::time_point deadline)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
}

// Terminates a process that is not our child and waits (briefly) until it
// is gone, so the port it held is free again.
void TerminateStale(pid_t pid)
{
    kill(pid, SIGKILL);
    for (int i = 0; i < 100 && kill(pid, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

}  // namespace

CAccelerationServer::~CAccelerationServer()
{
    // A server still running is the window's to stop; only collect one
    // that ended.
    IsRunning();
}

void CAccelerationServer::SetProgramDir(const std::string& directory)
{
    char resolved[PATH_MAX];
    m_strDir = realpath(directory.c_str(), resolved) ? resolved : directory;
}

// The launcher runs Caddy with the canonical path of this file, which is how
// a server of this directory is told from any other Caddy.
std::string CAccelerationServer::CaddyfilePath() const
{
    return m_strDir + "/Caddyfile";
}

bool CAccelerationServer::IsRunning()
{
    if (m_pid == 0)
        return false;
    if (waitpid(m_pid, nullptr, WNOHANG) == 0)
        return true;
    m_pid = 0;
    return false;
}

CAccelerationServer::ProbeResult CAccelerationServer::Start()
{
    if (!IsRunning())
        if (pid_t stale = FindProcessByName(AccelerationServerName(), CaddyfilePath()))
            TerminateStale(stale);
    m_strToken = NewToken();
    m_pid = WinExec(m_strDir + "/" + AccelerationServerName(), m_strDir, {"QUORVEL_ACCEL_TOKEN=" + m_strToken});
    ProbeResult result = Probe();
    DebugLog("acceleration probe: %s (pid %d)",
             result == PROBE_RUNNING ? "running" : result == PROBE_PORT_TAKEN ? "port 3000 taken" : "failed",
             static_cast<int>(m_pid));
    return result;
}

// Asks until an answer decides, or the time is up. An answer without our
// token comes from another program; so does a connection that is taken
// and never answered (our server would answer at once).
CAccelerationServer::ProbeResult CAccelerationServer::Probe()
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProbeMs);
    bool silent = false;
    for (long left = kProbeMs; left > 0; left = MsUntil(deadline)) {
        m_probe.m_nTimeLimitMs = std::min(kAttemptMs, left);
        HttpCallOptions options;
        options.header = kMarkHeader;
        char answer[1024] = {};
        int result = m_probe.Get(kProbeUrl, answer, sizeof answer, &options);
        if (result != HTTP_RESULT_NOT_SENT && result != HTTP_RESULT_BAD_URL) {
            if (options.headerValue != m_strToken)
                return PROBE_PORT_TAKEN;
            return m_probe.m_nStatusCode == 404 && IsRunning() ? PROBE_RUNNING : PROBE_FAILED;
        }
        silent = m_probe.m_nFailure == HTTP_FAILURE_TIMED_OUT;
        if (!silent && !IsRunning())
            return PROBE_FAILED;  // nothing listens, and our server is gone
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPauseMs, std::max(0L, MsUntil(deadline)))));
    }
    return silent ? PROBE_PORT_TAKEN : PROBE_FAILED;
}

bool CAccelerationServer::StopAccelerationService(int& lastError)
{
    bool ours = IsRunning();
    pid_t pid = ours ? m_pid : FindProcessByName(AccelerationServerName(), CaddyfilePath());
    lastError = pid == 0 ? ESRCH : kill(pid, SIGKILL) != 0 ? errno : 0;
    if (ours && lastError == 0) {
        waitpid(pid, nullptr, 0);
        m_pid = 0;
    }
    DebugLog("acceleration stop pid %d: %s", static_cast<int>(pid), lastError ? std::strerror(lastError) : "killed");
    return lastError == 0;
}
