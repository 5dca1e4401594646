#include "net/UrlHost.h"

#include <curl/curl.h>

namespace {

std::string Part(const std::string& url, CURLUPart what, unsigned int flags)
{
    std::string text;
    CURLU* parsed = curl_url();
    char* part = nullptr;
    if (parsed && curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, what, &part, flags) == CURLUE_OK) {
        text = part;
        curl_free(part);
    }
    curl_url_cleanup(parsed);
    return text;
}

}  // namespace

std::string HostOf(const std::string& url)
{
    return Part(url, CURLUPART_HOST, 0);
}

std::string HostPortOf(const std::string& url)
{
    std::string host = HostOf(url), port = Part(url, CURLUPART_PORT, CURLU_DEFAULT_PORT);
    return host.empty() ? host : host + ":" + port;
}
