#include "net/HeaderLine.h"

#include <cstring>
#include <strings.h>

bool HeaderLineIs(const std::string& line, const char* name, std::string& value)
{
    size_t length = std::strlen(name);
    if (line.size() <= length || line[length] != ':' || strncasecmp(line.c_str(), name, length) != 0)
        return false;
    size_t begin = line.find_first_not_of(" \t", length + 1);
    size_t end = line.find_last_not_of(" \t\r\n");
    value = begin == std::string::npos || end < begin ? std::string() : line.substr(begin, end - begin + 1);
    return true;
}
