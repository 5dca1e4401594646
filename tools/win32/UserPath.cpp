#include "tools/UserPath.h"

#include <algorithm>
#include <cctype>

// "\" and "/" both separate levels; no name holds either. A drive without
// a level ("D:", "D:x.bin") means that drive's current directory: it gets
// one ("D:.", "D:./x.bin"), so that the path's directory is on that drive
// and a name joined to it does not land in the drive's root.
std::string ProgramPath(std::string given)
{
    std::replace(given.begin(), given.end(), '\\', '/');
    bool driveRelative = given.size() >= 2 && given[1] == ':' && std::isalpha(static_cast<unsigned char>(given[0])) &&
                         (given.size() == 2 || given[2] != '/');
    if (driveRelative)
        given.insert(2, given.size() == 2 ? "." : "./");
    return given;
}

std::string ShownPath(std::string path)
{
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
