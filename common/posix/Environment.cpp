#include "common/Environment.h"

#include <cstdlib>

std::string EnvironmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}
