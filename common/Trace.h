// Diagnostic output. The engine and the caching job pass their texts to
// Trace, which discards them; the segment workers write theirs with
// DebugText (where a Windows program would call OutputDebugStringA).
//
// The client's log (StartClientLog) is what an operator sends to support:
// SupportLog lines (the start, sign-in and list failures, rows that failed
// to cache, the local server's start and stop) always go there. With
// QUORVEL_DEBUG set, DebugText and DebugLog lines (every service request,
// download event and acceleration start or stop) go there too, and every
// line also goes to stderr.
//
// Lines are "2026-12-09 16:30:05.123 +0800 text": local time with its
// offset from UTC, the text in UTF-8 (callers convert local texts with
// LocalToUtf8), '\n' at the end on every system. Thread-safe.
#pragma once

#include <cstdint>
#include <string>

void Trace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void DebugText(const char* text);
void DebugLog(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void SupportLog(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));

// Lines from now on also go to quorvel-client.log in `folder` (made when
// missing), rotated past `rotateBytes`. A folder that cannot hold it only
// loses the lines.
void StartClientLog(const std::string& folder, int64_t rotateBytes = 1 << 20);
void StopClientLog();
