#include "common/ModulePath.h"

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
