// CConnectionCache: the transfer handles that an engine's size queries and
// workers take and give back, each with the connection its last transfer
// left open, so the next request to the same host skips the connection's
// round trips. A handle (and with it its connection) is used by one thread
// at a time, as libcurl requires; only resolved names and TLS sessions are
// shared between the handles. At most kMaxKept idle handles are kept, and
// at most kMaxInUse are out at once: the connections a host gets from one
// client, however many files are in flight.
#pragma once

#include <curl/curl.h>
#include <deque>
#include <mutex>

class CConnectionCache {
public:
    static constexpr size_t kMaxKept = 8;
    static constexpr int kMaxInUse = 4;

    CConnectionCache();
    ~CConnectionCache();
    CConnectionCache(const CConnectionCache&) = delete;
    CConnectionCache& operator=(const CConnectionCache&) = delete;

    // A handle with every option at its default but the shared names and
    // TLS sessions; one whose last transfer ended cleanly comes first.
    // Null when kMaxInUse are out, or none can be made.
    CURL* Take();
    // `clean`: the transfer ended as HTTP would end it, so its connection
    // is likely still open for the next one.
    void Give(CURL* easy, bool clean);
    // Closes every kept connection; handles out stay with their takers.
    void Close();

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user);
    static void Unlock(CURL*, curl_lock_data data, void* user);

    CURLSH* m_share = nullptr;
    std::mutex m_locks[CURL_LOCK_DATA_LAST];
    std::mutex m_poolLock;     // m_idle, m_nOut
    std::deque<CURL*> m_idle;  // kept handles, those with a live connection first
    int m_nOut = 0;            // handles taken and not given back
};
