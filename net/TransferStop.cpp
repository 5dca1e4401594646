#include "net/TransferStop.h"

void CTransferStop::Attach(CURL* easy)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_easy = easy;
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
    m_socket = CURL_SOCKET_BAD;
}

void CTransferStop::Stop()
{
    m_bStop = true;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_socket != CURL_SOCKET_BAD)
        ShutDownSocket(m_socket);
}

int CTransferStop::OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<CTransferStop*>(user)->Stopped() ? 1 : 0;
}

// A connection was made or taken from the cache, the request not yet sent
// (and again after each redirect): its socket is the one a stop shuts.
int CTransferStop::OnConnected(void* user, char*, char*, int, int)
{
    auto& self = *static_cast<CTransferStop*>(user);
    std::lock_guard<std::mutex> guard(self.m_lock);
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (self.m_easy && curl_easy_getinfo(self.m_easy, CURLINFO_ACTIVESOCKET, &socket) == CURLE_OK)
        self.m_socket = socket;
    if (self.Stopped()) {
        self.m_socket = CURL_SOCKET_BAD;
        return CURL_PREREQFUNC_ABORT;
    }
    return CURL_PREREQFUNC_OK;
}
