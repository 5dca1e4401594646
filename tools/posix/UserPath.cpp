#include "tools/UserPath.h"

// "/" is the only separator, and a "\" is part of a name.
std::string ProgramPath(std::string given)
{
    return given;
}

std::string ShownPath(std::string path)
{
    return path;
}
