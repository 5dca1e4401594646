#include "net/SegmentTable.h"

void CSegmentTable::Plan(int64_t fileSize, bool oneStream)
{
    if (oneStream)
        m_segments.assign(1, SegmentInfo{0, 0, fileSize - 1, SEGMENT_IDLE});
    else
        m_segments = PlanSegments(fileSize);
    m_nChainAt = -1;
}

bool CSegmentTable::AllFinished() const
{
    for (const SegmentInfo& s : m_segments) {
        if (!s.Finished())
            return false;
    }
    return true;
}

int64_t CSegmentTable::Done() const
{
    int64_t done = 0;
    for (const SegmentInfo& s : m_segments)
        done += s.done;
    return done;
}

void CSegmentTable::ReleaseAll()
{
    for (SegmentInfo& s : m_segments)
        s.state = SEGMENT_IDLE;
    m_nChainAt = -1;
}

bool CSegmentTable::ChainReaches(size_t k) const
{
    if (m_nChainAt < 0 || k >= m_segments.size() || k <= static_cast<size_t>(m_nChainAt))
        return false;
    for (size_t j = m_nChainAt + 1; j <= k; ++j) {
        const SegmentInfo& s = m_segments[j];
        if (s.state != SEGMENT_IDLE || s.done != 0 || s.start != m_segments[j - 1].end + 1)
            return false;
    }
    return true;
}

int CSegmentTable::TakeNext(int index, int64_t& start, int64_t& end)
{
    size_t next = static_cast<size_t>(index) + 1;
    if (!ChainReaches(next))
        return -1;
    m_segments[next].state = SEGMENT_TAKEN;
    m_nChainAt = static_cast<int>(next);
    start = m_segments[next].start;
    end = m_segments[next].end;
    return static_cast<int>(next);
}
