// qv-download's messages to stderr: a format with up to two texts.
#pragma once

#include <cstdio>
#include <string>

inline void Say(const char* format, const std::string& a, const std::string& b = std::string())
{
    std::fprintf(stderr, format, a.c_str(), b.c_str());
}
