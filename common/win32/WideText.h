// Conversions at the boundary of the Windows API: the program's narrow
// strings are in the ANSI code page (CP_ACP), the API's in UTF-16.
#pragma once

#include <string>
#include <string_view>

std::wstring LocalToWide(std::string_view local);
std::string WideToLocal(std::wstring_view wide);
std::wstring Utf8ToWide(std::string_view utf8);
