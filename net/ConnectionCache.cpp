#include "net/ConnectionCache.h"

#include "net/CurlGlobal.h"

namespace {

CURLSH* NewShare(void* locks, curl_lock_function lock, curl_unlock_function unlock)
{
    EnsureCurlGlobal();
    CURLSH* share = curl_share_init();
    if (!share)
        return nullptr;
    curl_share_setopt(share, CURLSHOPT_LOCKFUNC, lock);
    curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, unlock);
    curl_share_setopt(share, CURLSHOPT_USERDATA, locks);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
    curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
    return share;
}

}  // namespace

CConnectionCache::CConnectionCache() : m_share(NewShare(m_locks, Lock, Unlock)) {}

CConnectionCache::~CConnectionCache()
{
    curl_share_cleanup(m_share);
}

void CConnectionCache::Attach(CURL* easy) const
{
    if (m_share)
        curl_easy_setopt(easy, CURLOPT_SHARE, m_share);
    curl_easy_setopt(easy, CURLOPT_MAXCONNECTS, kMaxKept);
}

void CConnectionCache::Close()
{
    curl_share_cleanup(m_share);
    m_share = NewShare(m_locks, Lock, Unlock);
}

void CConnectionCache::Lock(CURL*, curl_lock_data data, curl_lock_access, void* user)
{
    static_cast<std::mutex*>(user)[data].lock();
}

void CConnectionCache::Unlock(CURL*, curl_lock_data data, void* user)
{
    static_cast<std::mutex*>(user)[data].unlock();
}
