#include "tools/ListFile.h"

#include <fstream>

bool ReadList(const char* path, std::vector<std::string>& urls)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        size_t first = line.find_first_not_of(" \t\r");
        size_t last = line.find_last_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#')
            urls.push_back(line.substr(first, last - first + 1));
    }
    return !in.bad();
}
