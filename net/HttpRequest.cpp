#include "net/HttpRequest.h"

#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <string>

#include "net/CurlGlobal.h"
#include "net/SplitUrl.h"

namespace {

// A server that sends nothing for this long is treated as gone; it stands in
// for the receive time-out the Windows transport applies by default.
constexpr long kStallSeconds = 60;

// What one call keeps while its transfer runs.
struct Transfer {
    CURL* easy = nullptr;
    char* buffer = nullptr;
    int capacity = 0;
    int stored = 0;
    long status = 0;
    bool decided = false;  // the callback chose the result and stopped the body
    int result = HTTP_RESULT_OK;
};

// The transport rejects spaces and control bytes in a URL; they are
// percent-encoded here so the server still receives the request.
std::string TransportUrl(const UrlParts& parts)
{
    std::string url = "http://" + parts.host + ":" + std::to_string(parts.port);
    std::string path = parts.path.empty() ? "/" : parts.path;
    char escaped[4];
    for (char c : path) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "%%%02X", byte);
            url += escaped;
        } else {
            url += c;
        }
    }
    return url;
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

void Configure(CURL* easy, const std::string& url, Transfer& t)
{
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, CHttpRequest::kAgent);
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_0);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, CHttpRequest::kConnectTimeoutMs);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http");
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, static_cast<long>(CHttpRequest::kChunkSize));
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
}

bool IsUrlError(CURLcode code)
{
    return code == CURLE_URL_MALFORMAT || code == CURLE_UNSUPPORTED_PROTOCOL ||
           code == CURLE_FAILED_INIT || code == CURLE_OUT_OF_MEMORY;
}

}  // namespace

int CHttpRequest::Get(const char* url, char* buffer, int capacity)
{
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
    std::string transportUrl = TransportUrl(parts);
    Configure(easy, transportUrl, t);
    CURLcode code = curl_easy_perform(easy);
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &t.status);
    curl_easy_cleanup(easy);

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
