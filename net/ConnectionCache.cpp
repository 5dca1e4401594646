#include "net/ConnectionCache.h"

#include "net/CurlGlobal.h"

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
    curl_share_cleanup(m_share);
}

CURL* CConnectionCache::Take()
{
    CURL* easy = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_poolLock);
        if (m_nOut >= kMaxInUse)
            return nullptr;
        ++m_nOut;
        if (!m_idle.empty()) {
            easy = m_idle.front();
            m_idle.pop_front();
        }
    }
    // A reset keeps the handle's live connection, and nothing else.
    if (easy) {
        curl_easy_reset(easy);
    } else if (!(easy = curl_easy_init())) {
        std::lock_guard<std::mutex> guard(m_poolLock);
        --m_nOut;
        return nullptr;
    }
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
        --m_nOut;
        if (m_idle.size() < kMaxKept) {
            if (clean)
                m_idle.push_front(easy);
            else
                m_idle.push_back(easy);
            return;
        }
    }
    curl_easy_cleanup(easy);
}

void CConnectionCache::Close()
{
    std::deque<CURL*> idle;
    {
        std::lock_guard<std::mutex> guard(m_poolLock);
        idle.swap(m_idle);
    }
    for (CURL* easy : idle)
        curl_easy_cleanup(easy);
}

void CConnectionCache::Lock(CURL*, curl_lock_data data, curl_lock_access, void* user)
{
    static_cast<std::mutex*>(user)[data].lock();
}

void CConnectionCache::Unlock(CURL*, curl_lock_data data, void* user)
{
    static_cast<std::mutex*>(user)[data].unlock();
}
