// The list file of `qv-download -i`: one URL a line, blank lines and lines
// starting with "#" skipped. A list with a byte-order mark is read as the
// mark says: UTF-8 (Notepad's "UTF-8 with BOM"), UTF-16 little- or
// big-endian (PowerShell 5's ">" writes the former); one without in the
// local code page, as the command line is.
#pragma once

#include <string>
#include <vector>

// The URLs in UTF-8; false (errno set) when the file cannot be read.
bool ReadList(const std::string& path, std::vector<std::string>& urls);

// A URL the user typed (on the command line or in a list without a mark),
// in UTF-8 so that raw characters are sent UTF-8 encoded as browsers send
// them. Text that the local code page cannot read stays as it is: a
// substitute "?" would start a query; the engine encodes its bytes.
std::string TypedUrl(const std::string& typed);
