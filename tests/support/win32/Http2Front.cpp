// nginx is started as a Linux program: the Windows build's tests have no
// HTTP/2 front, and none of its cases asks for one.
#include "tests/support/Http2Front.h"

struct Http2Front::Running {};

Http2Front::Http2Front(int upstreamPort, int streamsPerConnection)
    : m_nUpstreamPort(upstreamPort), m_nStreamsPerConnection(streamsPerConnection)
{
}

Http2Front::~Http2Front() = default;

std::string Http2Front::CertificateFile()
{
    return std::string();
}

bool Http2Front::Start()
{
    m_failure = "no HTTP/2 front on Windows";
    return false;
}

std::string Http2Front::Url(const std::string& path) const
{
    return "https://127.0.0.1:" + std::to_string(m_port) + path;
}

std::vector<Http2Front::Logged> Http2Front::Log() const
{
    return {};
}
