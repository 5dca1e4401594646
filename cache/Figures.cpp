#include "cache/Figures.h"

#include <cinttypes>
#include <cstdio>
#include <sys/statvfs.h>

std::string FormatSize(int64_t bytes)
{
    constexpr int64_t kKiB = 1024, kMiB = kKiB * 1024, kGiB = kMiB * 1024;
    char text[32];
    if (bytes > kGiB)
        std::snprintf(text, sizeof text, "%0.2fG", static_cast<double>(bytes) * (1.0 / kGiB));
    else if (bytes > kMiB)
        std::snprintf(text, sizeof text, "%0.2fMB", static_cast<double>(bytes) * (1.0 / kMiB));
    else if (bytes > kKiB)
        std::snprintf(text, sizeof text, "%0.2fKB", static_cast<double>(bytes) * (1.0 / kKiB));
    else
        std::snprintf(text, sizeof text, "%" PRId64 "B", bytes);
    return text;
}

std::string ElapsedText(int64_t seconds)
{
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02d:%02d", seconds / 3600,
                  static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
    return text;
}

int Percent(int64_t part, int64_t whole)
{
    if (whole == 0)
        return 0;
    return static_cast<int>(static_cast<double>(part) / static_cast<double>(whole) * 100.0);
}

std::string DiskSpaceText(int64_t freeBytes)
{
    return "磁盘剩余:" + FormatSize(freeBytes);
}

int64_t AvailableDiskBytes(const std::string& directory)
{
    struct statvfs info;
    if (statvfs(directory.c_str(), &info) != 0)
        return -1;
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}
