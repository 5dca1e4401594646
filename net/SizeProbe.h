// CSizeProbe: the size query, a GET of the whole file from byte 0 (libcurl
// follows redirects). Its answer's status, length and validators decide
// the round; at the body's first byte the round may take the body on as
// segment 0's transfer, so no second request, round trip or connection is
// spent on it (otherwise the body is dropped). The answer goes on into the
// next segments while more connections do not pay: on a fast link a file
// costs one request.
#pragma once

#include <curl/curl.h>
#include <string>

#include "net/ConnectionCache.h"
#include "net/RequestPolicy.h"
#include "net/TransferStop.h"
#include "net/Validators.h"

class CDownloadWorker;

// What the probe needs of the round.
class ProbeHost {
public:
    // At the answer's first body byte: the worker that takes the body as
    // segment 0, or null to drop it.
    virtual CDownloadWorker* OnAnswer(long status, int64_t length, const Validators& validators) = 0;
    // Whether more connections pay for the `remaining` bytes now.
    virtual bool MorePay(int64_t remaining, double bytesPerSecond, double requestSeconds) = 0;
    // They do: the segments the answer does not carry get transfers; true
    // while some wait for a connection.
    virtual bool Widen() = 0;
    // The answer that `worker` took ended.
    virtual void EndTakeOver(bool transferOk) = 0;

protected:
    ~ProbeHost() = default;
};

class CSizeProbe {
public:
    struct Answer {
        CURLcode code = CURLE_OK;
        long status = 0;      // 0: no answer came
        int64_t length = -1;  // Content-Length, -1 when none
        long osError = 0;
        std::string detail;  // libcurl's own text of a failure
        Validators validators;
    };

    // `rate` is the answer's rate on the last file (bytes a second; 0: none
    // yet), what a new file is judged by until its own is measured; the
    // probe updates it.
    CSizeProbe(ProbeHost& host, CConnectionCache& pool, const RequestPolicy& policy, CTransferStop& stop,
               double& rate)
        : m_host(host), m_pool(pool), m_policy(policy), m_stop(stop), m_rate(rate)
    {
    }

    // One size query on `easy` (a handle of the pool; the caller gives it back).
    Answer Ask(CURL* easy, const std::string& url);

private:
    ProbeHost& m_host;
    CConnectionCache& m_pool;
    const RequestPolicy& m_policy;
    CTransferStop& m_stop;
    double& m_rate;
};
