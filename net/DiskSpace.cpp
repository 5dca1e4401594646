#include "net/DiskSpace.h"

#include <sys/statvfs.h>

int64_t GetFreeDiskBytes(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct statvfs info;
    if (statvfs(directory.c_str(), &info) != 0)
        return -1;
    // What this user may use: blocks reserved for root are not counted.
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}
