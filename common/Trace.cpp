#include "common/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/time.h>

namespace {

// Read each time: tests and operators switch it on for one run.
bool DebugOn()
{
    const char* value = std::getenv("QUORVEL_DEBUG");
    return value && *value;
}

}  // namespace

void Trace(const char*, ...)
{
}

// The design's texts carry "\r\n" or no line end at all: each becomes one
// timestamped line like every other.
void OutputDebugStringA(const char* text)
{
    if (!text || !DebugOn())
        return;
    std::string line(text);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    DebugLog("%s", line.c_str());
}

void DebugLog(const char* format, ...)
{
    if (!DebugOn())
        return;
    timeval now;
    gettimeofday(&now, nullptr);
    tm local;
    localtime_r(&now.tv_sec, &local);
    char line[2048];
    size_t used = std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S", &local);
    used += std::snprintf(line + used, sizeof line - used, ".%03ld ", static_cast<long>(now.tv_usec / 1000));
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + used, sizeof line - used, format, args);
    va_end(args);
    // One write per line, so lines of several threads do not mix.
    std::fprintf(stderr, "%s\n", line);
}
