// One header line of an HTTP answer, as the transport hands it over
// ("Name: value\r\n").
#pragma once

#include <string>

// True when `line` is the header `name` (case-insensitive); `value` then
// gets its value without the surrounding blanks and line end.
bool HeaderLineIs(const std::string& line, const char* name, std::string& value);
