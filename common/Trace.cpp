#include "common/Trace.h"

#include <cstdio>
#include <cstdlib>

void Trace(const char*, ...)
{
}

void OutputDebugStringA(const char* text)
{
    // Read each time: tests and operators switch it on for one run.
    if (text && std::getenv("QUORVEL_DEBUG"))
        std::fputs(text, stderr);
}
