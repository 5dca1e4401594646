#include "common/ModulePath.h"

#include <limits.h>
#include <unistd.h>

std::string GetModuleFileNameA()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, n) : std::string();
}

std::string GetModuleDirectory()
{
    std::string path = GetModuleFileNameA();
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string GetModuleBaseName()
{
    std::string path = GetModuleFileNameA();
    return path.substr(path.rfind('/') + 1);
}
