#include "common/Environment.h"

#include <cstdlib>

std::string EnvironmentText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

void SetEnvironmentText(const char* name, const std::string& value)
{
    setenv(name, value.c_str(), 1);
}
