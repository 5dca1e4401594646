// Text conversion between UTF-8 (what the services send), the wide form and
// the local code page: on POSIX the charset of the process locale (GBK
// under zh_CN.GBK, UTF-8 on most systems); on Windows always UTF-8, turned
// into UTF-16 at each system call, so a name keeps every character whatever
// the PC's ANSI code page. Thread-safe; no shared state.
// posix/CodePage.cpp and win32/CodePage.cpp implement it with Utf8ToLocal.
#pragma once

#include <string>
#include <string_view>

// Local code page → UTF-8; bytes that are not valid in the locale become "?".
std::string LocalToUtf8(std::string_view local);

