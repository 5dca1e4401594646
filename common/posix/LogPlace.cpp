#include "common/LogPlace.h"

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The XDG base directory rules ignore a relative path.
const char* AbsoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? value : nullptr;
}

}  // namespace

std::string LogFolder()
{
    if (const char* state = AbsoluteEnv("XDG_STATE_HOME"))
        return std::string(state) + "/quorvel";
    if (const char* home = AbsoluteEnv("HOME"))
        return std::string(home) + "/.local/state/quorvel";
    return {};
}

FILE* OpenAppend(const std::string& path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return nullptr;
    FILE* file = fdopen(fd, "a");
    if (!file)
        close(fd);
    return file;
}
