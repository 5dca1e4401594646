// qv-download's words to the user: a printf format and its arguments,
// written to stdout or stderr through the console (tools/Console.h).
#pragma once

#include <cstdio>

void Say(FILE* stream, const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));
