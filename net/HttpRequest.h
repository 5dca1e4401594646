// CHttpRequest: one synchronous HTTP/1.0 GET into a caller's buffer.
//
// Every call opens its own transfer and closes it before returning; nothing
// is reused between calls. Calls on one object may run on several threads at
// once (the main window shares its object between the UI thread and its
// worker): each call keeps its transfer state on its own stack, and the two
// result members are atomic.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

enum HttpResult : int {
    HTTP_RESULT_OK = 0,
    HTTP_RESULT_BAD_URL = -1,      // null, empty, not http://, or could not be opened
    HTTP_RESULT_NOT_SENT = -2,     // no connection, refused, time-out, or body cut short
    HTTP_RESULT_BAD_STATUS = -3,   // status other than 200
    HTTP_RESULT_TOO_LARGE = -4,    // body does not fit the buffer
};

// Why a call got no answer at all; the windows tell the operator when the
// service cannot be reached, and do not retry a call that timed out.
enum HttpFailure : int {
    HTTP_FAILURE_NONE = 0,       // an answer came (or the URL was refused)
    HTTP_FAILURE_REFUSED = 1,    // nothing listens there
    HTTP_FAILURE_NO_HOST = 2,    // the host name did not resolve
    HTTP_FAILURE_TIMED_OUT = 3,  // no connection, or no answer, in time
    HTTP_FAILURE_OTHER = 4,      // cut short, too many redirects, stopped ...
};

// True when the service could not be reached at all.
inline bool IsNoConnection(int failure)
{
    return failure == HTTP_FAILURE_REFUSED || failure == HTTP_FAILURE_NO_HOST || failure == HTTP_FAILURE_TIMED_OUT;
}

// Optional parts of one call.
struct HttpCallOptions {
    // When given, the call ends within about 100 ms of it becoming non-zero
    // (HTTP_RESULT_NOT_SENT), so a window can close during a request.
    const std::atomic<int>* stop = nullptr;
    // When given, the value of this response header of the last answer is
    // kept in headerValue (empty when the answer had none).
    const char* header = nullptr;
    std::string headerValue;
};

class CHttpRequest {
public:
    // Agent text sent with every request.
    static constexpr const char* kAgent = "KOVRA4.0 GET";
    // The body is read in chunks of at most this many bytes.
    static constexpr int kChunkSize = 4096;
    static constexpr long kConnectTimeoutMs = 60000;
    static constexpr long kMaxRedirects = 10;

    // Returns one of HttpResult. With a buffer of capacity > 0 the body is
    // stored NUL-terminated; a chunk that would leave no room for the NUL
    // ends the read with HTTP_RESULT_TOO_LARGE, keeping the chunks before
    // it. Without a buffer only the status is looked at.
    int Get(const char* url, char* buffer, int capacity, HttpCallOptions* options = nullptr);

    // Status of the last response whose status line was read; calls that
    // fail before that leave it alone.
    std::atomic<int32_t> m_nStatusCode{0};
    // Body bytes stored by the last Get.
    std::atomic<uint32_t> m_nLength{0};
    // HttpFailure of the last Get.
    std::atomic<int> m_nFailure{HTTP_FAILURE_NONE};
    // When above 0, a call ends after this many milliseconds in all
    // (connection and answer), as HTTP_FAILURE_TIMED_OUT.
    std::atomic<long> m_nTimeLimitMs{0};
};
