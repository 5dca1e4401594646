#include "cache/AttemptRule.h"

CAttemptRule::CAttemptRule(int64_t now) : m_tLastChange(now) {}

// Any change of the count is traffic (the stall clock starts again); only
// bytes above the best mark are progress (the failures before them no
// longer count).
void CAttemptRule::See(int64_t now, int64_t received)
{
    if (received > m_nBest) {
        m_nBest = received;
        m_bNewBytes = true;
        m_nRetries = 0;
    }
    if (received != m_nLastSeen) {
        m_nLastSeen = received;
        m_tLastChange = now;
    }
}

// The engine was started again: its count begins at 0.
void CAttemptRule::Begin(int64_t now)
{
    m_tRetryAt = 0;
    m_bNewBytes = false;
    m_nLastSeen = 0;
    m_tLastChange = now;
}

CAttemptRule::Action CAttemptRule::Failed(int64_t now)
{
    if (m_nRetries >= kMaxRetries)
        return Action::GiveUp;
    m_tRetryAt = now + (int64_t(1) << m_nRetries);
    ++m_nRetries;
    return Action::Wait;
}

CAttemptRule::Action CAttemptRule::OnTick(int64_t now, int64_t received, bool offTheLink)
{
    if (IsWaiting()) {
        if (now < m_tRetryAt)
            return Action::None;
        Begin(now);
        return Action::Restart;
    }
    See(now, received);
    if (offTheLink)
        m_tLastChange = now;
    if (now - m_tLastChange <= kStallSeconds)
        return Action::None;
    if (m_bNewBytes) {
        Begin(now);
        return Action::Restart;
    }
    return Failed(now);
}

CAttemptRule::Action CAttemptRule::OnFailure(int64_t now, int64_t received, bool hopeless)
{
    See(now, received);
    if (hopeless)
        m_nRetries = kMaxRetries;
    return Failed(now);
}
