// CConnectionCache: the connections (and resolved names and TLS sessions)
// that an engine's transfers leave open, shared by its size queries and its
// workers on their threads, so the next request to the same host skips the
// connection's round trips. At most kMaxKept idle connections are kept.
#pragma once

#include <curl/curl.h>
#include <mutex>

class CConnectionCache {
public:
    static constexpr long kMaxKept = 8;

    CConnectionCache();
    ~CConnectionCache();
    CConnectionCache(const CConnectionCache&) = delete;
    CConnectionCache& operator=(const CConnectionCache&) = delete;

    // Lets a transfer take and leave connections here.
    void Attach(CURL* easy) const;
    // Closes every kept connection; no transfer may be attached.
    void Close();

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user);
    static void Unlock(CURL*, curl_lock_data data, void* user);

    CURLSH* m_share = nullptr;
    std::mutex m_locks[CURL_LOCK_DATA_LAST];
};
