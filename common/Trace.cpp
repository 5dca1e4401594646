#include "common/Trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

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
void DebugText(const char* text)
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
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    tm local;
    {
        // localtime's result is shared between threads.
        static std::mutex lock;
        std::lock_guard<std::mutex> guard(lock);
        local = *std::localtime(&seconds);
    }
    char line[2048];
    size_t used = std::strftime(line, sizeof line, "%Y-%m-%d %H:%M:%S", &local);
    used += std::snprintf(line + used, sizeof line - used, ".%03ld ", millis);
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + used, sizeof line - used, format, args);
    va_end(args);
    // One write per line, so lines of several threads do not mix.
    std::fprintf(stderr, "%s\n", line);
}
