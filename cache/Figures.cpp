#include "cache/Figures.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <limits>


namespace {

// "%0.2f" with "." as the decimal mark under every locale (printf would
// take the session's, "114,98G" under de_DE).
std::string TwoDecimals(double value)
{
    char text[64];
    std::to_chars_result end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2);
    return std::string(text, end.ptr);
}

}  // namespace

std::string FormatSize(int64_t bytes)
{
    constexpr int64_t kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024;
    if (bytes > kGiB)
        return TwoDecimals(static_cast<double>(bytes) * (1.0 / kGiB)) + "G";
    if (bytes > kMiB)
        return TwoDecimals(static_cast<double>(bytes) * (1.0 / kMiB)) + "MB";
    if (bytes > kKiB)
        return TwoDecimals(static_cast<double>(bytes) * (1.0 / kKiB)) + "KB";
    return std::to_string(bytes) + "B";
}

std::string ElapsedText(int64_t seconds)
{
    seconds = std::max<int64_t>(seconds, 0);  // never "0:00:-5"
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

// Clamped to 0..100: a resource larger than its declared size (or a byte
// count from a hostile answer) shows a full bar, never a figure past 100 or
// a float-to-int conversion out of range.
int Percent(int64_t part, int64_t whole)
{
    if (whole == 0)
        return 0;
    double percent = static_cast<double>(part) / static_cast<double>(whole) * 100.0;
    return static_cast<int>(std::clamp(percent, 0.0, 100.0));
}

int64_t AddBytes(int64_t a, int64_t b)
{
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max(), kMin = std::numeric_limits<int64_t>::min();
    if (b > 0 && a > kMax - b)
        return kMax;
    if (b < 0 && a < kMin - b)
        return kMin;
    return a + b;
}

std::string DiskSpaceText(int64_t freeBytes)
{
    return "磁盘剩余:" + FormatSize(freeBytes);
}
