#include "net/ConnectionCache.h"

#include <algorithm>
#include <cctype>

#include "net/CurlGlobal.h"
#include "net/TransferStop.h"
#include "net/UrlHost.h"

CConnectionCache::CConnectionCache()
{
    EnsureCurlGlobal();
    m_share = curl_share_init();
    if (!m_share)
        return;
    curl_share_setopt(m_share, CURLSHOPT_LOCKFUNC, Lock);
    curl_share_setopt(m_share, CURLSHOPT_UNLOCKFUNC, Unlock);
    curl_share_setopt(m_share, CURLSHOPT_USERDATA, m_locks);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
}

CConnectionCache::~CConnectionCache()
{
    Close();
    m_loop.reset();
    curl_share_cleanup(m_share);
}

bool CConnectionCache::Secure(const std::string& url)
{
    return url.size() > 6 && std::equal(url.begin(), url.begin() + 6, "https:", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

std::string CConnectionCache::HostKey(const std::string& url)
{
    std::string key = (Secure(url) ? "https://" : "http://") + HostPortOf(url);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    return key;
}

CURL* CConnectionCache::Take(const std::string& url)
{
    const std::string key = HostKey(url);
    CURL* easy = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_poolLock);
        Host& host = m_hosts[key];
        if (host.out >= (host.http2 ? kStreamsPerHost : kConnectionsPerHost))
            return nullptr;
        auto kept = std::find_if(m_idle.begin(), m_idle.end(), [&](const Idle& i) { return i.host == key; });
        if (kept == m_idle.end() && !m_idle.empty())
            kept = m_idle.begin();
        if (kept != m_idle.end()) {
            easy = kept->easy;
            m_idle.erase(kept);
        } else if (!(easy = curl_easy_init())) {
            return nullptr;
        }
        ++host.out;
        m_taken[easy] = key;
    }
    // A reset keeps the handle's live connection, and nothing else.
    curl_easy_reset(easy);
    if (m_share)
        curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    // Each handle keeps the one connection it used last.
    curl_easy_setopt(easy, CURLOPT_MAXCONNECTS, 1L);
    return easy;
}

void CConnectionCache::Give(CURL* easy, bool clean)
{
    if (!easy)
        return;
    {
        std::lock_guard<std::mutex> guard(m_poolLock);
        auto taken = m_taken.find(easy);
        std::string key = taken->second;
        m_taken.erase(taken);
        --m_hosts[key].out;
        if (m_idle.size() < kMaxKept) {
            if (clean)
                m_idle.push_front({key, easy});
            else
                m_idle.push_back({key, easy});
            return;
        }
    }
    curl_easy_cleanup(easy);
}

// Null when its thread cannot be made.
CTransferLoop* CConnectionCache::Loop()
{
    std::lock_guard<std::mutex> guard(m_poolLock);
    try {
        if (!m_loop)
            m_loop = std::make_unique<CTransferLoop>([this](CURL* easy, long version) { OnVersion(easy, version); });
    } catch (const std::system_error&) {
        return nullptr;
    }
    return m_loop.get();
}

CURLcode CConnectionCache::Perform(CURL* easy, const std::string& url, CTransferStop& stop)
{
    if (!Secure(url)) {
        stop.Attach(easy);
        CURLcode code = curl_easy_perform(easy);
        stop.Detach();
        return code;
    }
    CTransferLoop* loop = Loop();
    if (!loop)
        return CURLE_FAILED_INIT;
    bool noHttp2;
    {
        std::lock_guard<std::mutex> guard(m_poolLock);
        noHttp2 = m_hosts[HostKey(url)].noHttp2;
    }
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, noHttp2 ? CURL_HTTP_VERSION_1_1 : CURL_HTTP_VERSION_2TLS);
    // Dozens of streams in flight at once: TLS records and HTTP/2 frames
    // come in 16 KiB at most, so a smaller buffer each loses nothing.
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 65536L);
    stop.Attach(easy, loop);
    CURLcode code = loop->Perform(easy, stop);
    stop.Detach();
    AfterSecure(url, easy, code, noHttp2);
    return code;
}

// The transfer made its TLS connection, and the host broke it off or
// answered what HTTP cannot read: what a host that offers HTTP/2 and cannot
// speak it does. A timeout, a refused connection or a failed TLS handshake
// says nothing of HTTP/2.
bool CConnectionCache::BrokeWithoutAnswer(CURL* easy, CURLcode code)
{
    if (code != CURLE_SEND_ERROR && code != CURLE_RECV_ERROR && code != CURLE_GOT_NOTHING &&
        code != CURLE_WEIRD_SERVER_REPLY)
        return false;
    long status = 0;
    curl_off_t handshake = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);  // 0: no answer
    curl_easy_getinfo(easy, CURLINFO_APPCONNECT_TIME_T, &handshake);
    return status == 0 && handshake > 0;
}

// Until a transfer of the host is answered, one that broke asks for the
// other version next, and an HTTP/2 framing error keeps the host on
// HTTP/1.1; the first answered one pins the version it asked for.
// Transfers that end together each judge only what they asked. Once
// pinned, a framing error is passing: a GOAWAY that refused a request
// already on its way ends it so.
void CConnectionCache::AfterSecure(const std::string& url, CURL* easy, CURLcode code, bool askedHttp11)
{
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    bool broke = BrokeWithoutAnswer(easy, code);
    std::lock_guard<std::mutex> guard(m_poolLock);
    Host& host = m_hosts[HostKey(url)];
    if (host.pinned)
        return;
    if (code == CURLE_HTTP2) {
        host.noHttp2 = true;
        host.http2 = false;
        host.pinned = true;
    } else if (status != 0) {
        host.noHttp2 = askedHttp11;
        host.pinned = true;
    } else if (broke) {
        host.noHttp2 = !askedHttp11;
    }
}

// On the loop's thread, for a handle out.
void CConnectionCache::OnVersion(CURL* easy, long version)
{
    std::lock_guard<std::mutex> guard(m_poolLock);
    auto taken = m_taken.find(easy);
    if (taken == m_taken.end())
        return;
    Host& host = m_hosts[taken->second];
    host.http2 = version == CURL_HTTP_VERSION_2_0 && !host.noHttp2;
}

size_t CConnectionCache::FilesAtOnce(const std::string& url) const
{
    std::lock_guard<std::mutex> guard(m_poolLock);
    auto host = m_hosts.find(HostKey(url));
    return host != m_hosts.end() && host->second.http2 ? kFilesOnHttp2 : kConnectionsPerHost;
}

void CConnectionCache::Close()
{
    std::deque<Idle> idle;
    {
        std::lock_guard<std::mutex> guard(m_poolLock);
        idle.swap(m_idle);
        if (m_loop)
            m_loop->CloseIdle();
    }
    for (const Idle& i : idle)
        curl_easy_cleanup(i.easy);
}

void CConnectionCache::Lock(CURL*, curl_lock_data data, curl_lock_access, void* user)
{
    static_cast<std::mutex*>(user)[data].lock();
}

void CConnectionCache::Unlock(CURL*, curl_lock_data data, void* user)
{
    static_cast<std::mutex*>(user)[data].unlock();
}
