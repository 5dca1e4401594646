#include "net/DiskSpace.h"

#include "common/FileSystem.h"

int64_t GetFreeDiskBytes(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    return fsys::FreeBytes(directory);
}
