#include "net/DownloadFailure.h"

#include "net/SocketError.h"

namespace {

// Schannel names a failed revocation check by its code (CRYPT_E_REVOKED,
// CRYPT_E_NO_REVOCATION_CHECK, CRYPT_E_REVOCATION_OFFLINE), or, when
// libcurl checks the chain itself, by the chain's trust flag.
struct RevocationMark {
    const char* mark;
    const char* cause;
};
const RevocationMark kRevocationMarks[] = {
    {"80092010", "the certificate has been revoked"},
    {"CERT_TRUST_IS_REVOKED", "the certificate has been revoked"},
    {"80092012", "its revocation could not be checked"},
    {"CERT_TRUST_REVOCATION_STATUS_UNKNOWN", "its revocation could not be checked"},
    {"80092013", "the revocation server could not be reached"},
    {"CERT_TRUST_IS_OFFLINE_REVOCATION", "the revocation server could not be reached"},
};

std::string TlsText(CURLcode code, const std::string& detail)
{
    std::string text = std::string("TLS: ") + curl_easy_strerror(code);
    for (const RevocationMark& m : kRevocationMarks)
        if (detail.find(m.mark) != std::string::npos)
            return text + " (" + m.cause + ")";
    return text;
}

}  // namespace

DownloadFailure TransportFailure(CURLcode code, long osError, const std::string& host, const std::string& detail)
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
        return {FailureCause::Tls, 0, TlsText(code, detail)};
    default:
        return {FailureCause::Network, 0, curl_easy_strerror(code)};
    }
}
