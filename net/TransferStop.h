// CTransferStop: ends a transfer in flight from another thread at once.
// libcurl looks at the stop flag only about once a second on a silent
// connection, so the stop also shuts the connection's socket down: the
// transfer wakes and ends now, and its handle goes back closed. A transfer
// of a CTransferLoop shares its connection with others: the stop wakes the
// loop instead, which takes the transfer out.
#pragma once

#include <atomic>
#include <curl/curl.h>
#include <mutex>

class CTransferLoop;

class CTransferStop {
public:
    // `also`, when given, is a stop flag of the owner that ends the
    // transfer too (looked at with the own one).
    explicit CTransferStop(const std::atomic<int>* also = nullptr) : m_pAlso(also) {}
    CTransferStop(const CTransferStop&) = delete;
    CTransferStop& operator=(const CTransferStop&) = delete;

    // Before an attempt: the own flag is cleared.
    void Reset() { m_bStop = false; }
    // Before the transfer: watches `easy` (a Stop since Reset still holds),
    // which runs on `loop` when given.
    void Attach(CURL* easy, CTransferLoop* loop = nullptr);
    // After the transfer, before the handle goes back to the pool: its
    // socket is no longer this transfer's to shut.
    void Detach();
    // Any thread.
    void Stop();
    bool Stopped() const { return m_bStop || (m_pAlso && *m_pAlso != 0); }

private:
    static int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    static int OnConnected(void* user, char*, char*, int, int);

    const std::atomic<int>* m_pAlso;
    std::atomic<bool> m_bStop{false};
    std::mutex m_lock;  // m_easy, m_loop, m_socket, m_nLocalPort, m_nPeerPort
    CURL* m_easy = nullptr;
    CTransferLoop* m_loop = nullptr;
    curl_socket_t m_socket = CURL_SOCKET_BAD;
    int m_nLocalPort = 0;
    int m_nPeerPort = 0;
};
