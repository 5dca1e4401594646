#include "net/HttpRequest.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <string>

#include "common/Trace.h"
#include "common/UrlText.h"
#include "net/CurlGlobal.h"
#include "net/HeaderLine.h"
#include "net/ProxyRoute.h"
#include "net/SplitUrl.h"

namespace {

// A server that sends nothing for this long is treated as gone; it stands in
// for the receive time-out the Windows transport applies by default.
constexpr long kStallSeconds = 60;

// What one call keeps while its transfer runs.
struct Transfer {
    CURL* easy = nullptr;
    HttpCallOptions* options = nullptr;
    char* buffer = nullptr;
    int capacity = 0;
    int stored = 0;
    long status = 0;
    bool decided = false;  // the callback chose the result and stopped the body
    int result = HTTP_RESULT_OK;
};

// How often a waiting transfer looks at the caller's stop flag.
constexpr int kStopPollMs = 100;

// The transport rejects spaces and control bytes in a URL; they are
// percent-encoded here so the server still receives the request.
std::string TransportUrl(const UrlParts& parts)
{
    std::string path = parts.path.empty() ? "/" : parts.path;
    return "http://" + parts.host + ":" + std::to_string(parts.port) + EscapeTransportBytes(path, false);
}

// Records the result and returns 0, which makes the transport stop the body.
size_t Stop(Transfer& t, int result)
{
    t.decided = true;
    t.result = result;
    return 0;
}

// Appends one chunk under the capacity rule; false stops the body.
bool StoreChunk(Transfer& t, const char* data, int size)
{
    if (t.stored + size + 1 > t.capacity) {
        Stop(t, HTTP_RESULT_TOO_LARGE);
        return false;
    }
    std::memcpy(t.buffer + t.stored, data, size);
    t.stored += size;
    return true;
}

size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    Transfer& t = *static_cast<Transfer*>(user);
    curl_easy_getinfo(t.easy, CURLINFO_RESPONSE_CODE, &t.status);
    if (t.status != 200)
        return Stop(t, HTTP_RESULT_BAD_STATUS);
    if (!t.buffer || t.capacity <= 0)
        return Stop(t, HTTP_RESULT_OK);
    size_t total = size * count;
    for (size_t done = 0; done < total; done += CHttpRequest::kChunkSize) {
        size_t piece = std::min<size_t>(CHttpRequest::kChunkSize, total - done);
        if (!StoreChunk(t, data + done, static_cast<int>(piece)))
            return 0;
    }
    return total;
}

// Keeps the value of the header the caller asked for; a new answer (after
// a redirect) starts over.
size_t OnHeader(char* data, size_t size, size_t count, void* user)
{
    HttpCallOptions& options = *static_cast<HttpCallOptions*>(user);
    size_t length = size * count;
    std::string line(data, length);
    if (line.rfind("HTTP/", 0) == 0)
        options.headerValue.clear();
    else
        HeaderLineIs(line, options.header, options.headerValue);
    return length;
}

void Configure(CURL* easy, const std::string& url, Transfer& t, long timeLimitMs)
{
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, CHttpRequest::kAgent);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, CHttpRequest::kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, CHttpRequest::kMaxRedirects);
    if (timeLimitMs > 0)
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeLimitMs);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A transfer given up in a name lookup (a stop, a restart) does not
    // wait for the resolver's thread: the lookup may take as long as a
    // venue's DNS likes.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    // The engine's proxy too; the services are plain http, so no certificates.
    ApplyProxyRoute(easy, url);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(CHttpRequest::kChunkSize));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
    if (t.options && t.options->header) {
        t.options->headerValue.clear();
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, t.options);
    }
}

bool IsUrlError(CURLcode code)
{
    return code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL ||
           code == CURLE_FAILED_INIT || code == CURLE_OUT_OF_MEMORY;
}

HttpFailure FailureOf(CURLcode code)
{
    switch (code) {
    case CURLE_OK: return HTTP_FAILURE_NONE;
    case CURLE_COULDNT_CONNECT: return HTTP_FAILURE_REFUSED;
    case CURLE_COULDNT_RESOLVE_HOST: return HTTP_FAILURE_NO_HOST;
    // After the status line too: a service that stalls mid-answer is as
    // unreachable as a silent one.
    case CURLE_OPERATION_TIMEDOUT: return HTTP_FAILURE_TIMED_OUT;
    default: return HTTP_FAILURE_OTHER;
    }
}

// Runs the transfer, looking at `stop` between waits; a stopped transfer
// ends as CURLE_ABORTED_BY_CALLBACK.
CURLcode Perform(CURL* easy, const std::atomic<int>* stop)
{
    if (!stop)
        return curl_easy_perform(easy);
    CURLM* multi = curl_multi_init();
    if (!multi)
        return CURLE_OUT_OF_MEMORY;
    curl_multi_add_handle(multi, easy);
    CURLcode code = CURLE_ABORTED_BY_CALLBACK;
    int running = 1;
    while (!stop->load()) {
        if (curl_multi_perform(multi, &running) != CURLM_OK)
            break;
        if (running == 0) {
            int left = 0;
            CURLMsg* message = curl_multi_info_read(multi, &left);
            code = message && message->msg == CURLMSG_DONE ? message->data.result : CURLE_RECV_ERROR;
            break;
        }
        curl_multi_poll(multi, nullptr, 0, kStopPollMs, nullptr);
    }
    curl_multi_remove_handle(multi, easy);
    curl_multi_cleanup(multi);
    return code;
}

// The URL for the diagnostic line, without the password digest of a login.
std::string LoggedUrl(const char* url)
{
    std::string text = url;
    size_t at = text.find("password=");
    return at == std::string::npos ? text : text.substr(0, at + 9) + "***";
}

}  // namespace

int CHttpRequest::Get(const char* url, char* buffer, int capacity, HttpCallOptions* options)
{
    m_nFailure = HTTP_FAILURE_NONE;
    UrlParts parts;
    if (!SplitUrl(url, parts))
        return HTTP_RESULT_BAD_URL;
    EnsureCurlGlobal();
    CURL* easy = curl_easy_init();
    if (!easy)
        return HTTP_RESULT_BAD_URL;

    Transfer t;
    t.easy = easy;
    t.buffer = buffer;
    t.capacity = capacity;
    t.options = options;
    std::string transportUrl = TransportUrl(parts);
    Configure(easy, transportUrl, t, m_nTimeLimitMs);
    auto started = std::chrono::steady_clock::now();
    CURLcode code = Perform(easy, options ? options->stop : nullptr);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &t.status);
    curl_easy_cleanup(easy);
    long ms = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    DebugLog("request %s status %ld bytes %d ms %ld%s%s", LoggedUrl(url).c_str(), t.status, t.stored, ms,
             code == CURLE_OK ? "" : " error ", code == CURLE_OK ? "" : curl_easy_strerror(code));
    if (!t.decided)
        m_nFailure = FailureOf(code);

    if (t.status > 0) {
        m_nStatusCode = static_cast<int32_t>(t.status);
        m_nLength = 0;
    }
    bool bodyRead = t.status == 200 && buffer && capacity > 0;
    if (bodyRead) {
        buffer[t.stored] = '\0';
        m_nLength = static_cast<uint32_t>(t.stored);
    }
    if (t.decided)
        return t.result;
    if (code != CURLE_OK) {
        // A body cut short (or a status line never seen) is a failed
        // exchange, so callers retry instead of using half an answer.
        return IsUrlError(code) && t.status == 0 ? HTTP_RESULT_BAD_URL : HTTP_RESULT_NOT_SENT;
    }
    return t.status == 200 ? HTTP_RESULT_OK : HTTP_RESULT_BAD_STATUS;
}
