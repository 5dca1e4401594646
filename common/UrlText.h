// Makes a typed text safe to place in a URL query without changing its
// bytes more than needed: the characters that would change the URL's meaning
// (space, "#", "&", "%", "+", "?") and control characters are percent-encoded;
// everything else, bytes above 0x7F included, goes out as it is.
#pragma once

#include <string>
#include <string_view>

std::string EscapeUrlText(std::string_view text);

// What the transport refuses in a URL it is given, percent-encoded: space
// and control bytes, and with `highBytes` also bytes above 0x7F (raw UTF-8
// or GBK in a content URL). Everything else, "%" included, is kept, so an
// already encoded URL stays as it is.
std::string EscapeTransportBytes(std::string_view url, bool highBytes);

// A URL as logs show it: without its query, which may carry a signature.
std::string UrlWithoutQuery(const std::string& url);
