// Splits an http URL into host, port and path the way the transport expects
// them: the path keeps its query string unchanged, the port defaults to 80.
#pragma once

#include <cstddef>
#include <string>

// The host and path fields of the transport hold 259 characters each; a
// longer host or path is refused rather than cut.
constexpr size_t kUrlFieldMax = 259;

struct UrlParts {
    std::string host;
    int port = 80;
    std::string path;
};

// False for a null or empty URL, one without "http://" (so https fails),
// and one whose host part or path is longer than kUrlFieldMax.
bool SplitUrl(const char* url, UrlParts& parts);
