#include "accel/AccelerationServer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "common/FileSystem.h"
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

}  // namespace

CAccelerationServer::~CAccelerationServer()
{
    // A server still running is the window's to stop; only collect one
    // that ended.
    IsRunning();
}

void CAccelerationServer::SetProgramDir(const std::string& directory)
{
    m_strDir = fsys::Canonical(directory);
}

bool CAccelerationServer::IsRunning()
{
    return m_server.Running();
}

CAccelerationServer::ProbeResult CAccelerationServer::Start()
{
    if (!IsRunning())
        if (ProcessId stale = FindServerOf(m_strDir))
            KillProcess(stale);
    m_strToken = NewToken();
    m_server.Launch(m_strDir, {"QUORVEL_ACCEL_TOKEN=" + m_strToken});
    ProbeResult result = Probe();
    DebugLog("acceleration probe: %s (pid %ld)",
             result == PROBE_RUNNING ? "running" : result == PROBE_PORT_TAKEN ? "port 3000 taken" : "failed",
             m_server.Id());
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
    ProcessId pid = ours ? m_server.Id() : FindServerOf(m_strDir);
    lastError = ours ? m_server.Kill() : KillProcess(pid);
    DebugLog("acceleration stop pid %ld: error %d", pid, lastError);
    return lastError == 0;
}
