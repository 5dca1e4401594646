// CAccelerationServer: the local web server this client launches from its
// program directory: starting and confirming it, and stopping it again.
//
// Only the server it launched (or, after a crash of the client, a server
// started from the same program directory) is ever stopped; another
// program's Caddy is left alone. Each launch gets a token of its own in its
// environment, which its answers carry in a header, so the probe knows its
// server from anything else listening on the port. UI thread only.
#pragma once

#include <string>

#include "accel/ProcessControl.h"
#include "net/HttpRequest.h"

class CAccelerationServer {
public:
    enum ProbeResult {
        PROBE_RUNNING,     // our server answers "/" with 404
        PROBE_PORT_TAKEN,  // another program holds the port (answers, or takes connections silently)
        PROBE_FAILED,      // our server answered otherwise, or nothing answered
    };

    static constexpr const char* kProbeUrl = "http://127.0.0.1:3000/";
    static constexpr const char* kMarkHeader = "X-Quorvel-Accel";
    static constexpr long kProbeMs = 5000;    // the whole probe
    static constexpr long kAttemptMs = 1000;  // one attempt: connection and answer
    static constexpr long kPauseMs = 100;     // between attempts

    ~CAccelerationServer();

    // The directory holding the server's launcher and Caddyfile.
    void SetProgramDir(const std::string& directory);
    // Launches the server (after stopping one of this directory left from
    // an earlier run) and probes it.
    ProbeResult Start();
    // Terminates our server. False when none runs or it could not be
    // terminated; `lastError` then holds the system's error code.
    bool StopAccelerationService(int& lastError);
    // The server launched last still runs (it is collected once it ended).
    bool IsRunning();

private:
    ProbeResult Probe();

    std::string m_strDir;    // canonical program directory
    std::string m_strToken;  // of the server launched last
    CServerProcess m_server;  // the server launched last
    CHttpRequest m_probe;
};
