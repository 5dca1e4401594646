// CAccelerationServer: the local web server this client launches from its
// program directory: starting and confirming it, and stopping it again.
//
// Only the server it launched (or, after a crash of the client, a server
// started from the same program directory) is ever stopped; another
// program's Caddy is left alone. Each launch gets a token of its own in its
// environment, which its answers carry in a header, so the probe knows its
// server from anything else listening on the port.
//
// Threads: one thread at a time. The window runs Start on a thread of its
// own and touches nothing else of this object until that thread ended.
#pragma once

#include <atomic>
#include <string>

#include "accel/ProcessControl.h"
#include "net/HttpRequest.h"

class CAccelerationServer {
public:
    enum Outcome {
        START_RUNNING,         // our server answers "/" with 404
        START_PORT_TAKEN,      // another program holds the port (answers, or takes connections silently)
        START_PORT_RESERVED,   // the system keeps the port from programs
        START_MISSING,         // the server program is not in the program directory
        START_LAUNCH_FAILED,   // it is there but could not be started (`code`: the system's error)
        START_CONFIG_REFUSED,  // it ended at once with Caddy's start-up failure, the port being free
        START_EXITED,          // it ended by itself (`code`: its exit status)
        START_NO_ANSWER,       // it ran, but answered otherwise or not at all; it was stopped again
        START_CANCELLED,       // the start was called off; nothing of it runs
    };

    struct StartResult {
        Outcome outcome = START_CANCELLED;
        int code = 0;       // see Outcome
        int stopError = 0;  // START_NO_ANSWER: the server could not be stopped (the system's error)
    };

    static constexpr int kPort = 3000;
    static constexpr const char* kProbeUrl = "http://127.0.0.1:3000/";
    static constexpr const char* kMarkHeader = "X-Quorvel-Accel";
    static constexpr long kProbeMs = 5000;    // the whole probe
    static constexpr long kAttemptMs = 1000;  // one attempt: connection and answer
    static constexpr long kPauseMs = 100;     // between attempts
    // Caddy's exit status when it fails to start (its configuration is
    // refused, or it cannot listen).
    static constexpr int kStartupFailureStatus = 1;

    ~CAccelerationServer();

    // The directory holding the server's launcher and Caddyfile.
    void SetProgramDir(const std::string& directory);
    const std::string& ProgramDir() const { return m_strDir; }
    // The server program's path.
    std::string ProgramPath() const;
    // Launches the server (after stopping one of this directory left from
    // an earlier run) and probes it. A start that does not end running
    // leaves no server of its own behind. `cancel` becoming non-zero ends
    // it within about 100 ms (START_CANCELLED).
    StartResult Start(const std::atomic<int>* cancel = nullptr);
    // Terminates our server. False when none runs or it could not be
    // terminated; `lastError` then holds the system's error code.
    bool StopAccelerationService(int& lastError);
    // The server launched last still runs (it is collected once it ended).
    bool IsRunning();
    // How the server launched last ended by itself (CServerProcess::ExitStatus).
    int ExitStatus() const { return m_server.ExitStatus(); }

private:
    enum ProbeResult { PROBE_RUNNING, PROBE_PORT_TAKEN, PROBE_FAILED, PROBE_ENDED, PROBE_CANCELLED };
    ProbeResult Probe(const std::atomic<int>* cancel);
    // Start's steps; Start logs their result.
    StartResult TryStart(const std::atomic<int>* cancel);
    // Why a server that ended by itself did not start.
    StartResult EndedResult();

    std::string m_strDir;    // canonical program directory
    std::string m_strToken;  // of the server launched last
    CServerProcess m_server;  // the server launched last
    CHttpRequest m_probe;
};
