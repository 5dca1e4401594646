#include "tests/support/LoopbackServer.h"

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
    m_server.set_socket_options([](socket_t s) { CommonListenerOptions(static_cast<intptr_t>(s)); });
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
