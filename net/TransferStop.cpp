#include "net/TransferStop.h"

#include "net/TransferLoop.h"

namespace {

// shutdown's "both directions": SHUT_RDWR, and Windows' SD_BOTH.
constexpr int kBothDirections = 2;

// The port of an IPv4 or IPv6 address: both keep it in network order
// right after the 2-byte family, on every system.
int PortOf(const sockaddr_storage& address)
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(&address);
    return bytes[2] << 8 | bytes[3];
}

// The socket is still the connection between these ports: libcurl may
// have closed it (a redirect to another host), and its number may name
// another transfer's socket by now.
bool StillConnects(curl_socket_t socket, int localPort, int peerPort)
{
    sockaddr_storage local = {}, peer = {};
    curl_socklen_t localSize = sizeof local, peerSize = sizeof peer;
    return getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localSize) == 0 &&
           getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerSize) == 0 && PortOf(local) == localPort &&
           PortOf(peer) == peerPort;
}

}  // namespace

void CTransferStop::Attach(CURL* easy, CTransferLoop* loop)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_easy = easy;
        m_loop = loop;
        m_socket = CURL_SOCKET_BAD;
    }
    curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(easy, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
}

void CTransferStop::Detach()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_easy = nullptr;
    m_loop = nullptr;
    m_socket = CURL_SOCKET_BAD;
}

void CTransferStop::Stop()
{
    m_bStop = true;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_loop)
        m_loop->Wake();  // the connection may carry other transfers
    else if (m_socket != CURL_SOCKET_BAD && StillConnects(m_socket, m_nLocalPort, m_nPeerPort))
        shutdown(m_socket, kBothDirections);  // the transfer wakes and ends now
}

int CTransferStop::OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<CTransferStop*>(user)->Stopped() ? 1 : 0;
}

// A connection was made or taken from the cache, the request not yet sent
// (and again after each redirect): its socket is the one a stop shuts.
int CTransferStop::OnConnected(void* user, char*, char*, int peerPort, int localPort)
{
    auto& self = *static_cast<CTransferStop*>(user);
    std::lock_guard<std::mutex> guard(self.m_lock);
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (self.m_easy && curl_easy_getinfo(self.m_easy, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK) {
        self.m_socket = socket;
        self.m_nLocalPort = localPort;
        self.m_nPeerPort = peerPort;
    }
    if (self.Stopped()) {
        self.m_socket = CURL_SOCKET_BAD;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}
