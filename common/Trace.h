// Diagnostic output. The engine and the caching job pass their texts to
// Trace, which discards them; the segment workers write theirs with
// DebugText (where a Windows program would call OutputDebugStringA), which
// reaches stderr only when QUORVEL_DEBUG is set.
// DebugLog is the operator's diagnostic: with QUORVEL_DEBUG set, one
// timestamped line on stderr per service request, download event and
// acceleration start or stop.
#pragma once

void Trace(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
void DebugText(const char* text);
void DebugLog(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
