#include "net/TransferLoop.h"

#include <algorithm>

#include "net/CurlGlobal.h"
#include "net/TransferStop.h"

CTransferLoop::CTransferLoop(std::function<void(CURL*, long)> onVersion) : m_onVersion(std::move(onVersion))
{
    EnsureCurlGlobal();
    Reopen();
    m_thread = std::thread(&CTransferLoop::Run, this);
}

CTransferLoop::~CTransferLoop()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bQuit = true;
        curl_multi_wakeup(m_multi);
    }
    m_thread.join();
    curl_multi_cleanup(m_multi);
}

// A fresh multi handle, its connections closed with the old one.
void CTransferLoop::Reopen()
{
    if (m_multi)
        curl_multi_cleanup(m_multi);
    m_multi = curl_multi_init();
    // Hosts are held to their connections by the pool's budget, not by
    // libcurl: a transfer waiting in its queue would look stalled.
    curl_multi_setopt(m_multi, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
}

CURLcode CTransferLoop::Perform(CURL* easy, const CTransferStop& stop)
{
    // Many transfers to one host wait for its first connection to say
    // whether it multiplexes, instead of opening one each.
    curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
    Transfer transfer{easy, stop};
    std::unique_lock<std::mutex> lock(m_lock);
    m_incoming.push_back(&transfer);
    curl_multi_wakeup(m_multi);
    m_ended.wait(lock, [&] { return transfer.done; });
    return transfer.result;
}

// Under the lock: the loop may be replacing its multi handle.
void CTransferLoop::Wake()
{
    std::lock_guard<std::mutex> guard(m_lock);
    curl_multi_wakeup(m_multi);
}

void CTransferLoop::CloseIdle()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bCloseIdle = true;
        curl_multi_wakeup(m_multi);
    }
}

void CTransferLoop::Run()
{
    while (Admit()) {
        EndStopped();
        int running = 0;
        curl_multi_perform(m_multi, &running);
        LearnVersions();
        Collect();
        curl_multi_poll(m_multi, nullptr, 0, 1000, nullptr);
    }
}

// Takes on the transfers handed over; false once the loop is to end and
// nothing runs.
bool CTransferLoop::Admit()
{
    std::vector<Transfer*> incoming;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        incoming.swap(m_incoming);
        if (m_bCloseIdle && m_running.empty() && incoming.empty()) {
            m_bCloseIdle = false;
            Reopen();
        }
        if (m_bQuit && m_running.empty() && incoming.empty())
            return false;
    }
    for (Transfer* transfer : incoming) {
        CURLMcode added = curl_multi_add_handle(m_multi, transfer->easy);
        if (added == CURLM_OK)
            m_running.push_back(transfer);
        else
            End(transfer, added == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT);
    }
    return true;
}

// A stopped transfer ends now, however silent its connection.
void CTransferLoop::EndStopped()
{
    for (size_t i = 0; i < m_running.size();) {
        Transfer* transfer = m_running[i];
        if (!transfer->stop.Stopped()) {
            ++i;
            continue;
        }
        curl_multi_remove_handle(m_multi, transfer->easy);
        m_running.erase(m_running.begin() + static_cast<std::ptrdiff_t>(i));
        End(transfer, CURLE_ABORTED_BY_CALLBACK);
    }
}

void CTransferLoop::Collect()
{
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        auto found = std::find_if(m_running.begin(), m_running.end(),
                                  [&](Transfer* t) { return t->easy == message->easy_handle; });
        CURLcode result = message->data.result;  // the message dies with the removal
        curl_multi_remove_handle(m_multi, message->easy_handle);
        if (found == m_running.end())
            continue;
        Transfer* transfer = *found;
        m_running.erase(found);
        End(transfer, result);
    }
}

void CTransferLoop::LearnVersions()
{
    for (Transfer* transfer : m_running)
        LearnVersion(*transfer);
}

// A redirect's host may speak another version than where it leads.
void CTransferLoop::LearnVersion(Transfer& transfer)
{
    long version = 0, status = 0;
    if (transfer.versionKnown || curl_easy_getinfo(transfer.easy, CURLINFO_HTTP_VERSION, &version) != CURLE_OK ||
        version == 0 || curl_easy_getinfo(transfer.easy, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK ||
        (status >= 300 && status < 400))
        return;
    transfer.versionKnown = true;
    m_onVersion(transfer.easy, version);
}

void CTransferLoop::End(Transfer* transfer, CURLcode result)
{
    LearnVersion(*transfer);
    {
        std::lock_guard<std::mutex> guard(m_lock);
        transfer->result = result;
        transfer->done = true;
    }
    m_ended.notify_all();
}
