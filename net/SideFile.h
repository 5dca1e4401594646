// The side file beside an unfinished download (destination + ".info"): the
// segment plan with the bytes done in each segment. It is replaced whole
// (written under a new name, then renamed over), so a crash while writing
// leaves the previous version, never a torn one.
#pragma once

#include <string>
#include <vector>

#include "net/SegmentInfo.h"

// Loads the plan only if it describes this file (`identity`, see
// SideFileIdentity; 0 as an older version wrote matches nothing) and covers
// a file of `fileSize` bytes exactly (see SegmentsCoverFile); false
// otherwise, and the caller plans anew.
bool LoadSideFile(const std::string& path, int64_t fileSize, uint64_t identity, std::vector<SegmentInfo>& segments);

// False when it could not be written; the previous side file then stays.
bool SaveSideFile(const std::string& path, const std::vector<SegmentInfo>& segments, uint64_t identity);
