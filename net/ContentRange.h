// Reads a "Content-Range: bytes START-END/TOTAL" answer header, so a range
// answer can be checked before any of its bytes is written.
#pragma once

#include <cstdint>
#include <string_view>

struct ContentRange {
    int64_t start = -1;
    int64_t end = -1;
    int64_t total = -1;  // -1 when the server sent "*"
};

// False for anything but a well-formed single byte range.
bool ParseContentRange(std::string_view value, ContentRange& range);
