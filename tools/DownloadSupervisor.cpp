#include "tools/DownloadSupervisor.h"

#include <algorithm>

#include "net/DownloadNotify.h"

// A restarted engine counts from 0 and reads back its side file: only
// bytes above the best mark seen are progress.
void DownloadSupervisor::See(int64_t downloaded, int64_t nowSeconds)
{
    if (downloaded == m_nLastSeen)
        return;
    if (m_nBest >= 0 && downloaded > m_nBest)
        m_nFailures = 0;  // progress: failures before it no longer count
    m_nBest = std::max(m_nBest, downloaded);
    m_nLastSeen = downloaded;
    m_tLastChange = nowSeconds;
}

DownloadSupervisor::Action DownloadSupervisor::Failed(int64_t nowSeconds)
{
    m_tLastChange = nowSeconds;
    return ++m_nFailures > kMaxRestarts ? Action::GiveUp : Action::Restart;
}

DownloadSupervisor::Action DownloadSupervisor::OnTick(int64_t downloaded, int64_t nowSeconds, bool offTheLink)
{
    See(downloaded, nowSeconds);
    if (offTheLink)
        m_tLastChange = nowSeconds;
    return nowSeconds - m_tLastChange > kStallSeconds ? Failed(nowSeconds) : Action::Wait;
}

DownloadSupervisor::Action DownloadSupervisor::OnEngineState(uint8_t state, int64_t downloaded,
                                                              int64_t nowSeconds)
{
    See(downloaded, nowSeconds);
    if (state == DOWNLOAD_FINISHED)
        return Action::Done;
    return state == DOWNLOAD_FAILED ? Failed(nowSeconds) : Action::Wait;
}
