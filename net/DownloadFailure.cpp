#include "net/DownloadFailure.h"

#include "net/SocketError.h"

DownloadFailure TransportFailure(CURLcode code, long osError, const std::string& host)
{
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return {FailureCause::HostNotFound, 0, "host not found: " + host};
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return {FailureCause::BadUrl, 0, "unsupported URL"};
    case CURLE_COULDNT_CONNECT:
        return {FailureCause::Network, 0,
                IsConnectionRefused(osError) ? "connection refused" : "cannot connect: " + SocketErrorText(osError)};
    case CURLE_OPERATION_TIMEDOUT:
        return {FailureCause::Network, 0, "timed out"};
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CERTPROBLEM:
        return {FailureCause::Tls, 0, std::string("TLS: ") + curl_easy_strerror(code)};
    default:
        return {FailureCause::Network, 0, curl_easy_strerror(code)};
    }
}
