#include "common/ModulePath.h"

#include <limits.h>
#include <unistd.h>

std::string GetModuleFileNameA()
{
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, n) : std::string();
}
