#include "net/SizeProbe.h"

#include <algorithm>
#include <chrono>
#include <utility>

#include "net/DownloadWorker.h"

namespace {

size_t KeepValidators(char* data, size_t size, size_t count, void* user)
{
    static_cast<Validators*>(user)->TakeHeaderLine(std::string(data, size * count));
    return size * count;
}

}  // namespace

// What the answer's callbacks share.
struct SizeQueryTransfer {
    using Clock = std::chrono::steady_clock;

    ProbeHost& host;
    CURL* easy;
    const double lastRate;
    Validators validators;
    bool decided = false;
    CDownloadWorker* first = nullptr;  // segment 0's worker, taking the body
    Clock::time_point sent = Clock::now();
    Clock::time_point firstByte{};
    int64_t length = -1;
    int64_t taken = 0;     // body bytes the first segment's worker took
    bool split = false;    // more connections pay: the other segments get theirs
    bool waiting = false;  // of those, some still wait for a connection

    static size_t OnBody(char* data, size_t size, size_t count, void* user)
    {
        auto& q = *static_cast<SizeQueryTransfer*>(user);
        if (!std::exchange(q.decided, true)) {
            q.firstByte = Clock::now();
            q.first = q.Decide();
        }
        if (!q.first || !q.first->TakeBody(data, size * count))
            return 0;
        q.taken += static_cast<int64_t>(size * count);
        if (!q.split && (q.split = q.host.MorePay(q.length - q.taken, q.Rate(), q.RequestSeconds())))
            q.waiting = true;
        if (q.waiting)
            q.waiting = q.host.Widen();
        return size * count;
    }

    double RequestSeconds() const { return std::chrono::duration<double>(firstByte - sent).count(); }
    double BodySeconds() const { return std::chrono::duration<double>(Clock::now() - firstByte).count(); }

    // The answer's own rate once it has run for half its request's wait
    // (and at least 1 ms); until then the last file's.
    double Rate() const
    {
        double seconds = BodySeconds();
        return seconds >= std::max(RequestSeconds() / 2, 0.001) ? taken / seconds : lastRate;
    }

    CDownloadWorker* Decide()
    {
        long status = 0;
        curl_off_t contentLength = -1;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &contentLength);
        length = contentLength;
        return status == 200 ? host.OnAnswer(status, length, validators) : nullptr;
    }
};

CSizeProbe::Answer CSizeProbe::Ask(CURL* easy, const std::string& url)
{
    curl_slist* headers = RequestPolicy::Headers();
    m_policy.Configure(easy, url, headers);
    SizeQueryTransfer query{m_host, easy, m_rate, Validators{}};
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, SizeQueryTransfer::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &query);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, KeepValidators);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &query.validators);
    char detail[CURL_ERROR_SIZE] = {};
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, detail);
    Answer answer;
    answer.code = m_pool.Perform(easy, url, m_stop);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
    answer.detail = detail;
    if (query.first) {
        double seconds = query.BodySeconds();
        if (seconds >= 0.001 && query.taken > 0)
            m_rate = query.taken / seconds;
        m_host.EndTakeOver(answer.code == CURLE_OK);
    }
    curl_off_t length = -1;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &answer.osError);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    answer.length = length;
    answer.validators = query.validators;
    curl_slist_free_all(headers);
    return answer;
}
