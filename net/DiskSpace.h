// Free bytes on the filesystem that holds a path, and the directory a path
// lies in.
#pragma once

#include <cstdint>
#include <string>

// The directory of `path`: up to and with its last "/", so that a root
// stays one ("/", "C:/"; a bare "C:" is the drive's current directory on
// Windows); "." when it has none.
std::string DirectoryOf(const std::string& path);

// The free bytes this user may use (blocks reserved for root not counted);
// -1 when the directory of `path` cannot be queried.
int64_t GetFreeDiskBytes(const std::string& path);
