// Names for the cases of parameterised tests, as ctest and gtest list them:
// the case's own text with every character that may not stand in a test
// name replaced by '_' ("drop=200000" gives "drop_200000").
#pragma once

#include <cctype>
#include <string>

inline std::string ParamName(const std::string& text, const char* whenEmpty = "none")
{
    if (text.empty())
        return whenEmpty;
    std::string name;
    for (char c : text)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}
