// RequestPolicy: the headers and transport options of every request the
// engine sends, the size query and the ranges alike. libcurl writes Host
// itself, with the port when the URL has one (a signed URL on :9000 signs
// "host:9000"), and follows redirects itself, so every request begins at
// the URL it was given.
#pragma once

#include <curl/curl.h>
#include <string>

struct RequestPolicy {
    static constexpr long kMaxRedirects = 10;
    // A transfer that receives nothing for this long fails its attempt.
    long stallSeconds = 60;

    // The range line, when given, comes last, then If-Range with the
    // validator when there is one; the caller frees the list.
    static curl_slist* Headers(const char* rangeLine = nullptr, const std::string& ifRange = std::string());
    void Configure(CURL* easy, const std::string& url, curl_slist* headers) const;
};
