// Converts a service text (UTF-8) to the local code page by way of the wide
// form, as every name shown or used as a file name is converted.
#pragma once

#include <string>
#include <string_view>

// Invalid UTF-8 becomes U+FFFD first; every character that the local
// charset lacks becomes "?". Never fails.
std::string Utf8ToLocal(std::string_view utf8);
