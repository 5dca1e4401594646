// SegmentInfo: one byte range of a file being downloaded, as the engine keeps
// it in memory and in the side file (32 bytes, little-endian), and the plan
// that splits a file into up to four of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr int kMaxSegments = 4;
constexpr size_t kSegmentRecordSize = 32;

// Segment states as stored: a worker has it (1) or not (0).
constexpr uint8_t SEGMENT_IDLE = 0;
constexpr uint8_t SEGMENT_TAKEN = 1;

struct SegmentInfo {
    int64_t start = 0;  // offset of the first byte
    int64_t done = 0;   // bytes written, counted from start
    int64_t end = -1;   // offset of the last byte, inclusive
    uint8_t state = SEGMENT_IDLE;

    bool Finished() const { return start + done > end; }
    int64_t Length() const { return end - start + 1; }
};

// What a side file describes: a hash of the URL and of the answer's
// validator (ETag, else Last-Modified), 56 bits, never 0. It lies in the
// reserved bytes of the first record; an older side file has 0 there.
uint64_t SideFileIdentity(std::string_view url, std::string_view validator);

// The side file's bytes for `segments`: 32-byte records, reserved bytes 0
// but for the identity in the first record's.
std::string EncodeSegments(const std::vector<SegmentInfo>& segments, uint64_t identity = 0);

// Reads whole records (1 to 4 of them); state 1 is loaded as 0, since no
// worker holds a segment of a plan just read. False when the size is not a
// whole number of records between 1 and 4. `identity`, when given, gets
// the first record's.
bool DecodeSegments(std::string_view bytes, std::vector<SegmentInfo>& segments, uint64_t* identity = nullptr);

// A fresh plan: 1 KiB blocks spread over 4 segments, one segment for a file
// under 1 MiB; the last segment ends at the file's last byte.
std::vector<SegmentInfo> PlanSegments(int64_t fileSize);

// Whether connections beyond the first pay for the `remaining` bytes of a
// file: the first alone, at `bytesPerSecond` (0: not known yet), would
// still need more than two request round trips (`requestSeconds`, what a
// request waited for its answer) for them.
bool MoreConnectionsPay(int64_t remaining, double bytesPerSecond, double requestSeconds);

// True when the segments cover [0, fileSize) exactly, in order and without
// overlap, and every done count lies within its segment. Anything else
// (another version of the file, a damaged record) must not be trusted.
bool SegmentsCoverFile(const std::vector<SegmentInfo>& segments, int64_t fileSize);
