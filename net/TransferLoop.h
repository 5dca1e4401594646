// CTransferLoop: runs transfers on one thread through one libcurl multi
// handle, so transfers to a host that speaks HTTP/2 are streams of one
// connection, many at once, instead of a connection each. The caller's
// thread hands its transfer over and waits for its end, as with
// curl_easy_perform; the transfer's callbacks run on the loop's thread, so
// they must never wait for another transfer. A stop raised on the
// transfer's CTransferStop ends it at once: the loop takes the handle out
// (on HTTP/2 that resets the stream, not the connection the others use).
#pragma once

#include <condition_variable>
#include <curl/curl.h>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CTransferStop;

class CTransferLoop {
public:
    // `onVersion` hears, on the loop's thread, the HTTP version
    // (CURL_HTTP_VERSION_*) each transfer's final answer (not a redirect)
    // came in, once, as soon as it is known, with the transfer's handle.
    explicit CTransferLoop(std::function<void(CURL*, long)> onVersion);
    ~CTransferLoop();
    CTransferLoop(const CTransferLoop&) = delete;
    CTransferLoop& operator=(const CTransferLoop&) = delete;

    // Runs `easy` to its end (any thread but the loop's).
    CURLcode Perform(CURL* easy, const CTransferStop& stop);
    // A stop was raised: the loop looks at its transfers' stops now.
    void Wake();
    // Closes the connections kept for later transfers once none runs.
    void CloseIdle();

private:
    struct Transfer {
        CURL* easy;
        const CTransferStop& stop;
        CURLcode result = CURLE_OK;
        bool versionKnown = false;
        bool done = false;
    };

    void Run();
    bool Admit();
    void EndStopped();
    void Collect();
    void LearnVersions();
    void LearnVersion(Transfer& transfer);
    void End(Transfer* transfer, CURLcode result);
    void Reopen();

    std::function<void(CURL*, long)> m_onVersion;
    CURLM* m_multi = nullptr;
    std::mutex m_lock;  // m_incoming, m_bQuit, m_bCloseIdle, every Transfer's done and result
    std::condition_variable m_ended;
    std::vector<Transfer*> m_incoming;  // handed over, not yet added
    bool m_bQuit = false;
    bool m_bCloseIdle = false;
    std::vector<Transfer*> m_running;  // the loop's thread only
    std::thread m_thread;
};
