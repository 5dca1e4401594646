// The host of a URL, as the transport's own URL parser reads it: signed CDN
// URLs and redirect targets run far past the request helper's 259
// characters.
#pragma once

#include <string>

// The host without port ("" when the URL cannot be parsed).
std::string HostOf(const std::string& url);
// "host:port", the scheme's default port when none is given ("" when the
// URL cannot be parsed): what the operator is told cannot be reached.
std::string HostPortOf(const std::string& url);
