// CConnectionCache: the transfer handles that an engine's size queries and
// workers take and give back, the connections they use, and how many each
// host gets. Plain http transfers run on the caller's thread, each handle
// keeping the connection its last transfer left open, so the next request
// to the same host skips the connection's round trips. https transfers run
// on the pool's transfer loop: to a host that offers HTTP/2 they are
// streams of one connection. Resolved names and TLS sessions are shared by
// every handle.
//
// A host gets at most kConnectionsPerHost transfers at once (one request
// per connection on HTTP/1.1, as browsers have it), or kStreamsPerHost once
// it answered in HTTP/2; hosts do not share the budget. Before a host has
// answered at all, an HTTP/2 protocol error (not a reset stream) moves it to
// HTTP/1.1 for good, and each transfer whose TLS connection broke without
// an answer (a proxy or server that offers HTTP/2 and then drops it) makes
// the next ask the other version. The version of its first answer stays:
// after it, a protocol error (a GOAWAY that refused a request on its way)
// is a broken-off transfer. At most kMaxKept idle handles are kept.
#pragma once

#include <curl/curl.h>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "net/TransferLoop.h"

class CTransferStop;

class CConnectionCache {
public:
    static constexpr size_t kMaxKept = 8;
    static constexpr int kConnectionsPerHost = 6;
    static constexpr int kStreamsPerHost = 100;
    // Files in flight a host carries well at once: one a connection on
    // HTTP/1.1; on HTTP/2 as many as keep one connection busy.
    static constexpr size_t kFilesOnHttp2 = 32;

    CConnectionCache();
    ~CConnectionCache();
    CConnectionCache(const CConnectionCache&) = delete;
    CConnectionCache& operator=(const CConnectionCache&) = delete;

    // A handle for a request to `url` (as listed: its host is the one
    // counted) with every option at its default but the shared names and
    // TLS sessions; one whose last transfer to that host ended cleanly
    // comes first. Null when the host has its transfers out, or none can be
    // made.
    CURL* Take(const std::string& url);
    // `clean`: the transfer ended as HTTP would end it, so its connection
    // is likely still open for the next one.
    void Give(CURL* easy, bool clean);
    // Runs the transfer set up on `easy` (taken for `url`) to its end; a
    // stop on `stop` ends it at once.
    CURLcode Perform(CURL* easy, const std::string& url, CTransferStop& stop);
    // How many files of `url`'s host may be in flight at once.
    size_t FilesAtOnce(const std::string& url) const;
    // What the budgets are counted by: scheme, host and port.
    static std::string HostKey(const std::string& url);
    // Closes every kept connection; handles out stay with their takers.
    void Close();

private:
    struct Host {
        int out = 0;            // handles taken and not given back
        bool pinned = false;    // an answer came: noHttp2 stays as it asked
        bool http2 = false;     // the last answer came in HTTP/2
        bool noHttp2 = false;   // its HTTP/2 broke: HTTP/1.1 only
    };
    struct Idle {
        std::string host;
        CURL* easy;
    };

    static bool Secure(const std::string& url);
    void OnVersion(CURL* easy, long version);
    void AfterSecure(const std::string& url, CURL* easy, CURLcode code, bool askedHttp11);
    static bool BrokeWithoutAnswer(CURL* easy, CURLcode code);
    CTransferLoop* Loop();
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* user);
    static void Unlock(CURL*, curl_lock_data data, void* user);

    CURLSH* m_share = nullptr;
    std::mutex m_locks[CURL_LOCK_DATA_LAST];
    mutable std::mutex m_poolLock;        // m_idle, m_hosts, m_taken, m_loop
    std::deque<Idle> m_idle;              // kept handles, those with a live connection first
    std::map<std::string, Host> m_hosts;  // by scheme, host and port
    std::map<CURL*, std::string> m_taken; // the host each handle out was taken for
    std::unique_ptr<CTransferLoop> m_loop;  // made at the first https transfer
};
