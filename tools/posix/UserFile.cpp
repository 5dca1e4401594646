#include "tools/UserFile.h"

FILE* OpenUserFile(const std::string& path)
{
    return std::fopen(path.c_str(), "rb");
}
