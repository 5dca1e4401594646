// Free bytes on the filesystem that holds a path.
#pragma once

#include <cstdint>
#include <string>

// All free bytes (not only those available to this user), as the engine's
// space check counts them; -1 when the directory of `path` cannot be queried.
int64_t GetFreeDiskBytes(const std::string& path);
