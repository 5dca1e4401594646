// CAttemptRule: when a row in flight is started again, waits for its next
// attempt, or is given up. Pure: the caching job passes in the clock, the
// bytes the row's engine received and what happened; the rule answers.
//
// One rule per row in flight, made when the row starts and gone when it
// ends. Progress is a byte count above the best mark reached since then:
// a new start of the engine counts from 0 and reads back what its side
// file holds, which is no progress. A failed attempt (a posted failure, a
// finished file that vanished, a stall after which nothing new arrived)
// is tried again after 1, 2, 4 and 8 s; the fifth in a row without
// progress gives the row up. A stall after new bytes is started again at
// once and never counted, so a link that delivers between stalls is never
// given up.
#pragma once

#include <cstdint>

class CAttemptRule {
public:
    // Tries after a row's first attempt, waiting 1, 2, 4 and 8 s before them.
    static constexpr int kMaxRetries = 4;
    // Seconds without a received byte after which an attempt is stalled.
    static constexpr int64_t kStallSeconds = 10;

    enum class Action {
        None,     // go on as it is
        Restart,  // start the engine again now
        Wait,     // stop the engine: the row waits until RetryAt
        GiveUp,   // the row fails for good
    };

    // The row starts at `now` (its engine was just started).
    explicit CAttemptRule(int64_t now = 0);

    // Once a second, with the bytes the engine received so far. Off the
    // link (the file is being synced into place, or waits for a
    // connection other files hold) is no stall, however long.
    Action OnTick(int64_t now, int64_t received, bool offTheLink);
    // The current attempt failed, having received `received`; `hopeless`
    // when another attempt cannot help (two copies unlike the md5).
    Action OnFailure(int64_t now, int64_t received, bool hopeless = false);

    bool IsWaiting() const { return m_tRetryAt != 0; }
    int64_t RetryAt() const { return m_tRetryAt; }
    int Retries() const { return m_nRetries; }

private:
    void See(int64_t now, int64_t received);
    void Begin(int64_t now);
    Action Failed(int64_t now);

    int64_t m_nBest = 0;          // the most bytes seen since the row started
    bool m_bNewBytes = false;     // the best mark rose since the last (re)start
    int64_t m_nLastSeen = 0;      // the count at the last tick
    int64_t m_tLastChange;        // when it last changed, or the last (re)start
    int m_nRetries = 0;           // failed attempts since the last progress
    int64_t m_tRetryAt = 0;       // when the waiting row starts again; 0: not waiting
};
