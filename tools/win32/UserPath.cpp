#include "tools/UserPath.h"

#include <algorithm>

// "\" and "/" both separate levels; no name holds either.
std::string ProgramPath(std::string given)
{
    std::replace(given.begin(), given.end(), '\\', '/');
    return given;
}

std::string ShownPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
