// The processes of the acceleration service: launching the web server from
// the program directory, finding one left running from it, and ending it.
// posix/ProcessControl.cpp and win32/ProcessControl.cpp implement it.
#pragma once

#include <memory>
#include <string>
#include <vector>

// A process id; 0 is none.
using ProcessId = long;

// True when a 32-bit build of the client runs on a 64-bit system.
bool IsWow64();

// The server's executable name: "caddy_64" under IsWow64, else "caddy"
// (Windows: with ".exe").
const char* AccelerationServerName();

// The web server this client launched: Caddy with the Caddyfile beside it,
// run from the program directory, `environment` ("NAME=value") added to
// the client's (replacing the client's variable of each name: the user's
// own XDG_DATA_HOME must not move Caddy's files), no console, no standard
// streams of ours. POSIX: in a
// session of its own, the launcher `caddy` beside the Caddyfile. Windows:
// caddy.exe in a job object that ends it when the client ends.
class CServerProcess {
public:
    CServerProcess();
    ~CServerProcess();
    CServerProcess(const CServerProcess&) = delete;
    CServerProcess& operator=(const CServerProcess&) = delete;

    // 0, or the system's error code when it could not start.
    int Launch(const std::string& directory, const std::vector<std::string>& environment);
    // It still runs; one that ended is collected (its id cannot be reused
    // while this holds it).
    bool Running();
    // Ends it and collects it: 0, or the system's error code.
    int Kill();
    ProcessId Id() const;
    // How the last collected server ended by itself: its exit status (POSIX:
    // 128 + the signal for one a signal ended, as the shell says it), or -1
    // when none ended by itself since the last launch (it runs, it never
    // started, or Kill ended it).
    int ExitStatus() const;

private:
    struct Child;
    std::unique_ptr<Child> m_child;
};

// A live server started from `directory` (after a crash of the client),
// the first in ascending id order; 0 when there is none. Another program's
// server is never found.
ProcessId FindServerOf(const std::string& directory);

// Whether a server could listen on `port` of the loopback host now: a
// program listens there already (taken), or the system keeps the port from
// programs (reserved: Windows' excluded port ranges, a port below 1024).
enum class PortState { Free, Taken, Reserved };
PortState LoopbackPortState(int port);

// Ends a process that is not our child and waits (at most a second) until
// it is gone, so a port it held is free again: 0, or the error code.
int KillProcess(ProcessId pid);
