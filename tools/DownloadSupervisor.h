// The decisions a front end takes for one download, the way the caching job
// takes them for one row: after a failure start again at once, but give up
// after kMaxRestarts failures with no progress in between (bytes above the
// most seen: a restart's count read back from the side file is none);
// restart a download that made no progress for more than kStallSeconds.
#pragma once

#include <cstdint>

class DownloadSupervisor {
public:
    static constexpr int kMaxRestarts = 3;
    static constexpr int64_t kStallSeconds = 10;

    enum class Action { Wait, Restart, GiveUp, Done };

    explicit DownloadSupervisor(int64_t nowSeconds) : m_tLastChange(nowSeconds) {}

    // Once a second, with the bytes the engine received; a download off the
    // link (its file being synced and moved into place, or waiting for a
    // connection other files hold) is never a stall.
    Action OnTick(int64_t downloaded, int64_t nowSeconds, bool offTheLink = false);
    // For each posted engine state.
    Action OnEngineState(uint8_t state, int64_t downloaded, int64_t nowSeconds);

    int FailuresWithoutProgress() const { return m_nFailures; }

private:
    Action Failed(int64_t nowSeconds);
    void See(int64_t downloaded, int64_t nowSeconds);

    int64_t m_nLastSeen = -1;   // byte count at the last change
    int64_t m_nBest = -1;       // the most bytes seen
    int64_t m_tLastChange;      // when it last changed (or the last restart)
    int m_nFailures = 0;        // failures and stalls since the last progress
};
