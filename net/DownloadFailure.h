// Why a download attempt failed. After DOWNLOAD_FAILED is posted the owner
// may ask the engine (CHttpDownload::LastFailure), name the cause to the
// user and decide whether trying again can help.
#pragma once

#include <curl/curl.h>
#include <string>

enum class FailureCause {
    None,
    HttpStatus,    // the size query was answered with another status than 200
    BadAnswer,     // 200 without a usable Content-Length
    Redirects,     // too many redirects
    BadUrl,        // a URL the transport cannot use (scheme, form)
    HostNotFound,
    Network,       // refused, reset, timed out
    Tls,           // the certificate could not be verified, or the TLS handshake failed
    DiskSpace,
    FileAccess,    // the temporary file cannot be made, or the file cannot be moved into place
    Transfer,      // the ranges ended with bytes missing
    Changed,       // an answer carried another version of the file than the size query's
    Checksum,      // two copies of the file, both unlike the md5 the caller gave
};

struct DownloadFailure {
    FailureCause cause = FailureCause::None;
    long status = 0;   // the HTTP status, for HttpStatus (of the size query or of a range)
    std::string text;  // for people: "HTTP 404", "connection refused", ...
};

// The failure of a transfer that got no answer; `osError` is the socket's
// error number (net/SocketError.h), `detail` libcurl's text of it. A TLS
// failure names a revocation cause when the detail shows one.
DownloadFailure TransportFailure(CURLcode code, long osError, const std::string& host,
                                 const std::string& detail = std::string());
