#include "accel/AccelerationServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <random>
#include <thread>

#include "common/CodePage.h"
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

bool Cancelled(const std::atomic<int>* cancel)
{
    return cancel && *cancel != 0;
}

long MsUntil(std::chrono::steady_clock::time_point deadline)
{
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
}

const char* OutcomeText(int outcome)
{
    static const char* const kTexts[] = {"running", "port taken", "port reserved by the system", "program missing",
                                         "could not be launched", "configuration refused", "ended by itself",
                                         "no answer, stopped again", "cancelled"};
    return outcome >= 0 && outcome < static_cast<int>(std::size(kTexts)) ? kTexts[outcome] : "unknown";
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

std::string CAccelerationServer::ProgramPath() const
{
    return m_strDir + "/" + AccelerationServerName();
}

CAccelerationServer::StartResult CAccelerationServer::Start(const std::atomic<int>* cancel)
{
    StartResult result = TryStart(cancel);
    SupportLog("local server start in %s: %s (code %d, stop error %d, pid %ld)", LocalToUtf8(m_strDir).c_str(),
               OutcomeText(result.outcome), result.code, result.stopError,
               result.outcome == START_RUNNING ? m_server.Id() : 0L);
    return result;
}

CAccelerationServer::StartResult CAccelerationServer::TryStart(const std::atomic<int>* cancel)
{
    if (m_server.Running())
        m_server.Kill();  // ours still, after a stop that failed
    else if (ProcessId stale = FindServerOf(m_strDir))
        KillProcess(stale);
    if (Cancelled(cancel))
        return {START_CANCELLED};
    if (!fsys::Stat(ProgramPath()).exists)
        return {START_MISSING};
    m_strToken = NewToken();
    if (int error = m_server.Launch(m_strDir, {"QUORVEL_ACCEL_TOKEN=" + m_strToken}))
        return {START_LAUNCH_FAILED, error};

    StartResult result;
    switch (Probe(cancel)) {
    case PROBE_RUNNING:
        result.outcome = START_RUNNING;
        break;
    case PROBE_PORT_TAKEN:
        result.outcome = START_PORT_TAKEN;
        break;
    case PROBE_CANCELLED:
        result.outcome = START_CANCELLED;
        break;
    case PROBE_FAILED:
        result = m_server.Running() ? StartResult{START_NO_ANSWER} : EndedResult();
        break;
    case PROBE_ENDED:
        result = EndedResult();
        break;
    }
    if (result.outcome != START_RUNNING && m_server.Running()) {
        int error = m_server.Kill();
        if (result.outcome == START_NO_ANSWER)
            result.stopError = error;
    }
    return result;
}

// Caddy ends with the same status whether its configuration was refused or
// it could not listen; the port tells the two apart.
CAccelerationServer::StartResult CAccelerationServer::EndedResult()
{
    switch (LoopbackPortState(kPort)) {
    case PortState::Taken:
        return {START_PORT_TAKEN};
    case PortState::Reserved:
        return {START_PORT_RESERVED};
    case PortState::Free:
        break;
    }
    int status = m_server.ExitStatus();
    return {status == kStartupFailureStatus ? START_CONFIG_REFUSED : START_EXITED, status};
}

// Asks until an answer decides, our server ends, or the time is up. An
// answer without our token comes from another program; so does a
// connection that is taken and never answered (our server would answer at
// once).
CAccelerationServer::ProbeResult CAccelerationServer::Probe(const std::atomic<int>* cancel)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kProbeMs);
    bool silent = false;
    for (long left = kProbeMs; left > 0; left = MsUntil(deadline)) {
        m_probe.m_nTimeLimitMs = std::min(kAttemptMs, left);
        HttpCallOptions options;
        options.header = kMarkHeader;
        options.stop = cancel;
        char answer[1024] = {};
        int result = m_probe.Get(kProbeUrl, answer, sizeof answer, &options);
        if (Cancelled(cancel))
            return PROBE_CANCELLED;
        if (result != HTTP_RESULT_NOT_SENT && result != HTTP_RESULT_BAD_URL) {
            if (options.headerValue != m_strToken)
                return PROBE_PORT_TAKEN;
            return m_probe.m_nStatusCode == 404 && IsRunning() ? PROBE_RUNNING : PROBE_FAILED;
        }
        silent = m_probe.m_nFailure == HTTP_FAILURE_TIMED_OUT;
        if (!IsRunning())
            return PROBE_ENDED;  // nothing of ours will answer
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(kPauseMs, std::max(0L, MsUntil(deadline)))));
    }
    return silent ? PROBE_PORT_TAKEN : PROBE_FAILED;
}

bool CAccelerationServer::StopAccelerationService(int& lastError)
{
    bool ours = IsRunning();
    ProcessId pid = ours ? m_server.Id() : FindServerOf(m_strDir);
    lastError = ours ? m_server.Kill() : KillProcess(pid);
    SupportLog("local server stop, pid %ld: error %d", pid, lastError);
    return lastError == 0;
}
