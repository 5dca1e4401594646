// Diagnostic output. The engine and the caching job pass their texts to
// Trace, which discards them; the segment workers write theirs with
// OutputDebugStringA, which reaches stderr only when QUORVEL_DEBUG is set.
#pragma once

void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));
void OutputDebugStringA(const char* text);
