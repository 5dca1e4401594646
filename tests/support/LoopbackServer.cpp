#include "tests/support/LoopbackServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

LoopbackServer::LoopbackServer(int port)
{
    // Recorded before routing, so a request is in the log before its answer
    // reaches the client.
    m_server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        std::lock_guard<std::mutex> guard(m_lock);
        m_requests.push_back({req.target, req.version, req.get_header_value("User-Agent"),
                              req.get_header_value("Host"), req.get_header_value("Range"),
                              req.get_header_value("If-Range"), req.params, req.remote_port});
        return httplib::Server::HandlerResponse::Unhandled;
    });
    if (port == 0)
        m_port = m_server.bind_to_any_port("127.0.0.1");
    else
        m_port = m_server.bind_to_port("127.0.0.1", port) ? port : 0;
}

LoopbackServer::~LoopbackServer()
{
    m_server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

void LoopbackServer::Start()
{
    m_thread = std::thread([this] { m_server.listen_after_bind(); });
    // stop() only ends a loop that runs already: wait for it.
    while (!m_server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

std::string LoopbackServer::HostPort() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string LoopbackServer::Url(const std::string& path) const
{
    return "http://" + HostPort() + path;
}

std::vector<SeenRequest> LoopbackServer::Requests() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests;
}

size_t LoopbackServer::RequestCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_requests.size();
}

namespace {

// A socket bound to `port` (or a free port) on 127.0.0.1; returns the port.
int BindLoopback(int fd, int port = 0)
{
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace

int ClosedLoopbackPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int port = BindLoopback(fd);
    close(fd);
    return port;
}

SilentListener::SilentListener(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)), m_port(BindLoopback(m_fd, port))
{
    listen(m_fd, 64);
    m_thread = std::thread([this] {
        for (int client; (client = accept(m_fd, nullptr, nullptr)) >= 0;) {
            m_accepted.push_back(client);
            ++m_nConnections;
        }
    });
}

SilentListener::~SilentListener()
{
    shutdown(m_fd, SHUT_RDWR);  // ends the accept loop
    m_thread.join();
    close(m_fd);
    for (int client : m_accepted)
        close(client);
}
