// Text conversion between UTF-8 (what the services send), the wide form and
// the local code page (the charset of the process locale: GBK under
// zh_CN.GBK, UTF-8 on most Linux systems). Thread-safe; no shared state.
#pragma once

#include <string>
#include <string_view>

// Charset of the process locale as iconv names it ("GBK", "UTF-8", ...).
std::string LocalCodeset();

// Converts `text` from one iconv charset to another. A sequence that cannot
// be read or written is replaced by `substitute` (bytes in the target charset)
// and skipped by `unitSize` input bytes, so the conversion never fails.
std::string Transcode(std::string_view text, const char* from, const char* to,
                      std::string_view substitute, size_t unitSize);

// Local code page → UTF-8; bytes that are not valid in the locale become "?".
std::string LocalToUtf8(std::string_view local);

