// An HTTP server on 127.0.0.1 (a free port) running on its own thread for
// the length of a test, remembering every request it saw.
#pragma once

#include <atomic>
#include <httplib.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct SeenRequest {
    std::string target;   // as on the request line, undecoded
    std::string version;  // "HTTP/1.0"
    std::string agent;
    std::string host;
    std::string range;    // the Range header as sent
    std::string ifRange;  // the If-Range header as sent
    httplib::Params params;
    int peerPort = 0;     // the client's port: one per connection
};

class LoopbackServer {
public:
    // On a free port, or on `port` (then Port() is 0 when it is taken).
    explicit LoopbackServer(int port = 0);
    ~LoopbackServer();

    // Add routes to it, then Start.
    httplib::Server& Routes() { return m_server; }
    void Start();

    int Port() const { return m_port; }
    // "127.0.0.1:port", as the QUORVEL_*_HOST variables take it.
    std::string HostPort() const;
    std::string Url(const std::string& path) const;

    std::vector<SeenRequest> Requests() const;
    size_t RequestCount() const;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    mutable std::mutex m_lock;
    std::vector<SeenRequest> m_requests;
};

// What a listening socket of the tests' servers is set to: as common
// servers (nginx, Caddy) set theirs, so the connections they leave in
// TIME_WAIT never keep the next server, the client's own check included,
// from their port. (httplib's own choice on Linux, SO_REUSEPORT alone,
// would.)
void CommonListenerOptions(intptr_t socket);

// A port on 127.0.0.1 that refuses connections: bound, never listening,
// and held (without SO_REUSEADDR) until Release, so no other server,
// another test's included, can take it meanwhile.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort() { Release(); }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    int Port() const { return m_port; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    // Frees the port for a server of the test's own (the host comes back).
    void Release();

private:
    intptr_t m_fd = -1;  // a socket (Windows: a SOCKET)
    int m_port = 0;
};

// A port on 127.0.0.1 that accepts connections, reads nothing and never
// answers: a service that hangs. Counts the connections it took.
class SilentListener {
public:
    // On a free port, or on `port`.
    explicit SilentListener(int port = 0);
    ~SilentListener();
    int Port() const { return m_port; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string Url(const std::string& path) const { return "http://" + HostPort() + path; }
    int Connections() const { return m_nConnections; }

private:
    intptr_t m_fd = -1;  // a socket (Windows: a SOCKET)
    int m_port = 0;
    std::atomic<int> m_nConnections{0};
    std::vector<intptr_t> m_accepted;  // open until the end, so clients keep waiting
    std::thread m_thread;
};
