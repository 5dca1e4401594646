#include "net/RequestPolicy.h"

#include "net/CertificateTrust.h"
#include "net/DownloadWorker.h"
#include "net/ProxyRoute.h"

curl_slist* RequestPolicy::Headers(const char* rangeLine, const std::string& ifRange)
{
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: */*");
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Connection: keep-alive");
    if (rangeLine)
        headers = curl_slist_append(headers, rangeLine);
    // A file replaced on the server then answers 200 with the whole new
    // file, never a range of it to splice onto the old one.
    if (rangeLine && !ifRange.empty())
        headers = curl_slist_append(headers, ("If-Range: " + ifRange).c_str());
    return headers;
}

void RequestPolicy::Configure(CURL* easy, const std::string& url, curl_slist* headers) const
{
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, CDownloadWorker::kAgent);
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 60000L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, stallSeconds);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A transfer given up in a name lookup (a stop, a restart) does not
    // wait for the resolver's thread: the lookup may take as long as a
    // venue's DNS likes.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    // Content hosts are http or https, certificates checked, never skipped.
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    ApplyProxyRoute(easy, url);
    ApplyCertificateTrust(easy);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 262144L);
}
