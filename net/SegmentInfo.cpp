#include "net/SegmentInfo.h"

namespace {

constexpr int64_t kBlock = 1024;
constexpr int64_t kSingleSegmentBelow = 1048576;
constexpr int kIdentityBytes = 7;

void PutLE64(std::string& out, int64_t value)
{
    uint64_t bits = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>((bits >> (8 * i)) & 0xFF);
}

int64_t GetLE64(const unsigned char* bytes)
{
    uint64_t bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = (bits << 8) | bytes[i];
    return static_cast<int64_t>(bits);
}

}  // namespace

// FNV-1a over both texts (a NUL between them), folded to 56 bits.
uint64_t SideFileIdentity(std::string_view url, std::string_view validator)
{
    uint64_t hash = 14695981039346656037ULL;
    auto mix = [&hash](unsigned char byte) { hash = (hash ^ byte) * 1099511628211ULL; };
    for (char c : url)
        mix(static_cast<unsigned char>(c));
    mix(0);
    for (char c : validator)
        mix(static_cast<unsigned char>(c));
    uint64_t identity = (hash ^ (hash >> 56)) & ((uint64_t(1) << (8 * kIdentityBytes)) - 1);
    return identity == 0 ? 1 : identity;
}

std::string EncodeSegments(const std::vector<SegmentInfo>& segments, uint64_t identity)
{
    std::string out;
    out.reserve(segments.size() * kSegmentRecordSize);
    for (const SegmentInfo& s : segments) {
        PutLE64(out, s.start);
        PutLE64(out, s.done);
        PutLE64(out, s.end);
        out += static_cast<char>(s.state);
        for (int i = 0; i < kIdentityBytes; ++i)
            out += static_cast<char>((identity >> (8 * i)) & 0xFF);
        identity = 0;  // the first record's only
    }
    return out;
}

bool DecodeSegments(std::string_view bytes, std::vector<SegmentInfo>& segments, uint64_t* identity)
{
    segments.clear();
    size_t count = bytes.size() / kSegmentRecordSize;
    if (bytes.size() % kSegmentRecordSize != 0 || count < 1 || count > kMaxSegments)
        return false;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (identity) {
        *identity = 0;
        for (int i = kIdentityBytes - 1; i >= 0; --i)
            *identity = (*identity << 8) | data[25 + i];
    }
    for (size_t i = 0; i < count; ++i) {
        const unsigned char* record = data + i * kSegmentRecordSize;
        SegmentInfo s;
        s.start = GetLE64(record);
        s.done = GetLE64(record + 8);
        s.end = GetLE64(record + 16);
        s.state = SEGMENT_IDLE;
        segments.push_back(s);
    }
    return true;
}

std::vector<SegmentInfo> PlanSegments(int64_t fileSize)
{
    int64_t blocks = fileSize < kBlock ? 1 : fileSize / kBlock + 1;
    int64_t count = fileSize < kSingleSegmentBelow ? 1 : kMaxSegments;
    int64_t perSegment = count == 1 ? blocks : blocks / count + 1;
    int64_t segmentSize = perSegment * kBlock;
    std::vector<SegmentInfo> plan(count);
    for (int64_t k = 0; k < count; ++k) {
        plan[k].start = k * segmentSize;
        plan[k].end = (k + 1) * segmentSize - 1;
    }
    plan.back().end = fileSize - 1;
    return plan;
}

bool SegmentsCoverFile(const std::vector<SegmentInfo>& segments, int64_t fileSize)
{
    if (segments.empty() || segments.size() > kMaxSegments)
        return false;
    // start is never negative (it follows the last end), and end is checked
    // against the size before any sum: no record, however hostile, makes
    // the arithmetic overflow.
    int64_t next = 0;
    for (const SegmentInfo& s : segments) {
        if (s.start != next || s.end < s.start - 1 || s.end > fileSize - 1 || s.done < 0 ||
            s.done > s.end - s.start + 1)
            return false;
        next = s.end + 1;
    }
    return segments.back().end == fileSize - 1;
}

bool MoreConnectionsPay(int64_t remaining, double bytesPerSecond, double requestSeconds)
{
    return bytesPerSecond > 0 && remaining / bytesPerSecond > 2 * requestSeconds;
}
