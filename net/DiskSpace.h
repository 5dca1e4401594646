// Free bytes on the filesystem that holds a path.
#pragma once

#include <cstdint>
#include <string>

// The free bytes this user may use (blocks reserved for root not counted);
// -1 when the directory of `path` cannot be queried.
int64_t GetFreeDiskBytes(const std::string& path);
