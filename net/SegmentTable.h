// CSegmentTable: the plan of one file's download (up to four segments, each
// with its bytes done and whether a transfer has it) and the chain: the
// segment the size query's answer is in, and how far that one stream may
// carry on. A plain value; CPartFile guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/SegmentInfo.h"

class CSegmentTable {
public:
    // A fresh plan, or one segment for the whole file (`oneStream`).
    void Plan(int64_t fileSize, bool oneStream);
    std::vector<SegmentInfo>& Segments() { return m_segments; }
    const std::vector<SegmentInfo>& Segments() const { return m_segments; }
    SegmentInfo& operator[](size_t k) { return m_segments[k]; }
    size_t Size() const { return m_segments.size(); }

    bool AllFinished() const;
    int64_t Done() const;
    // No transfer has any segment (a new round's table).
    void ReleaseAll();

    // The size query's answer begins segment 0 / has ended.
    void BeginChain() { m_nChainAt = 0; }
    void EndChain() { m_nChainAt = -1; }
    bool HasChain() const { return m_nChainAt >= 0; }
    // The answer, in its stream, can still reach segment k: every segment
    // up to it is free, untouched and follows on.
    bool ChainReaches(size_t k) const;
    // At the end of segment `index`: the next one becomes the answer's
    // (its first and last byte given), or -1 when another transfer has it.
    int TakeNext(int index, int64_t& start, int64_t& end);

private:
    std::vector<SegmentInfo> m_segments;
    int m_nChainAt = -1;
};
