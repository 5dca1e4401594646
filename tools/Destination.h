// Where qv-download puts a file, and what it refuses before a byte moves:
// a URL that is not http(s), a destination without a file name or in a
// directory that takes no new files.
#pragma once

#include <set>
#include <string>

// URLs are UTF-8 here; paths are in the local code page, '/' between levels.

// An http or https URL with a host; anything else is refused (and said).
bool UsableUrl(const std::string& url);

// Where DEST puts the file: DEST itself, or the directory DEST (an
// existing one, or one written with a trailing "/", ".", or none) with the
// name the cache would give the URL's file. False when there is no such name.
bool Destination(const std::string& url, const std::string& dest, std::string& path);

// The destination's directory exists and takes new files; else it is said.
bool Writable(const std::string& path);

// A path this run has not given to another entry: "same.bin", then
// "same.1.bin", "same.2.bin" ... as aria2c numbers them. Paths of one file
// key are one ("Same.bin" is "same.bin" on Windows).
std::string UnusedPath(const std::string& path, std::set<std::string>& used);
