#include "common/Trace.h"

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "common/LogFile.h"

namespace {

// Guards the log file, the lines on stderr and the C library's shared
// time values.
std::mutex g_lock;
CLogFile g_log;

// Read each time: tests and operators switch it on for one run.
bool DebugOn()
{
    const char* value = std::getenv("QUORVEL_DEBUG");
    return value && *value;
}

// "2026-12-09 16:30:05.123 +0800 "; the caller holds g_lock.
std::string Stamp()
{
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    long millis = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    tm local = *std::localtime(&seconds);
    // UTC's fields read as local time lie the offset before now.
    tm utc = *std::gmtime(&seconds);
    utc.tm_isdst = local.tm_isdst;
    long offset = static_cast<long>(std::difftime(seconds, std::mktime(&utc))) / 60;
    char stamp[64];
    size_t used = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    std::snprintf(stamp + used, sizeof stamp - used, ".%03ld %c%02ld%02ld ", millis, offset < 0 ? '-' : '+',
                  std::labs(offset) / 60, std::labs(offset) % 60);
    return stamp;
}

std::string Format(const char* format, va_list args)
{
    char text[2048];
    std::vsnprintf(text, sizeof text, format, args);
    return text;
}

// One write per line and destination, so lines of several threads do not
// mix. stderr gets the same UTF-8 bytes as the log.
void Emit(const std::string& text, bool toStderr)
{
    std::lock_guard<std::mutex> guard(g_lock);
    if (!toStderr && !g_log.IsOpen())
        return;
    std::string line = Stamp() + text + "\n";
    if (toStderr)
        std::fputs(line.c_str(), stderr);
    g_log.Append(line);
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
    Emit(line, true);
}

void DebugLog(const char* format, ...)
{
    if (!DebugOn())
        return;
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    Emit(text, true);
}

void SupportLog(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = Format(format, args);
    va_end(args);
    Emit(text, DebugOn());
}

void StartClientLog(const std::string& folder, int64_t rotateBytes)
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_log.Open(folder, "quorvel-client", rotateBytes);
}

void StopClientLog()
{
    std::lock_guard<std::mutex> guard(g_lock);
    g_log.Close();
}
