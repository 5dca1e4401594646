// The figures of the caching job: sizes, the elapsed time, percentages and
// the free-space text. Plain functions; the window shows what they return.
#pragma once

#include <cstdint>
#include <string>

// "1024B", "1.00KB", "1024.00KB", "1.00MB", ..., "5120.00G": a boundary
// belongs to the lower unit; negative counts print as bytes.
std::string FormatSize(int64_t bytes);

// "%d:%02d:%02d" of whole seconds: "0:00:59", "1:02:05", "100:00:00".
std::string ElapsedText(int64_t seconds);

// part / whole × 100, divided first in double precision, then truncated
// (29 of 100 gives 28). A whole of 0 gives 0.
int Percent(int64_t part, int64_t whole);

// a + b of byte counts, at most INT64_MAX: sizes the list gives as the
// largest number add up to it instead of wrapping negative.
int64_t AddBytes(int64_t a, int64_t b);

// "磁盘剩余:114.98G" (UTF-8) for the free bytes available to the user.
std::string DiskSpaceText(int64_t freeBytes);

