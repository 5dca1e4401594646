// Conversions at the boundary of the Windows API: the program's narrow
// strings are UTF-8 on Windows, whatever the PC's ANSI code page, and the
// API takes UTF-16. Both ways are exact for valid text; a broken UTF-8
// sequence becomes U+FFFD. No code page is ever asked for a best fit.
#pragma once

#include <string>
#include <string_view>

std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);
