#include "net/DiskSpace.h"

#include "common/FileSystem.h"

std::string DirectoryOf(const std::string& path)
{
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

int64_t GetFreeDiskBytes(const std::string& path)
{
    return fsys::FreeBytes(DirectoryOf(path));
}
