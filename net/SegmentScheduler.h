// CSegmentScheduler: one round's transfers of a file. It gives segments to
// workers (the last first, as the pool has connections), asks a segment
// whose transfer broke off again after a wait while the others run,
// restarts a worker idle too long, and starts the file over as one segment
// when the server answers ranges with the whole file. Made afresh for every
// round: no worker, restart record or slot outlives it. Its destructor
// halts every worker at once, then waits for them.
//
// Threads: the round's thread calls everything but the WorkerHost side,
// which the workers call. Locks: slot lock, then the part file's.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "framework/Event.h"
#include "framework/Win32Types.h"
#include "net/DownloadWorker.h"
#include "net/EngineSettings.h"
#include "net/PartFile.h"

class CSegmentScheduler : private WorkerHost {
public:
    // A segment whose transfer broke off is asked again after the retry
    // wait, doubling, this many times without progress.
    static constexpr int kSegmentRestarts = 3;

    struct Setup {
        std::string url;         // as listed
        int64_t fileSize = 0;
        Validators validators;   // the size query's
    };
    // What the round's answers said, for the round's end.
    struct Outcome {
        std::string changedTo;   // another version a range answer named
        long refusedStatus = 0;  // a status a range answer was refused for
    };

    CSegmentScheduler(Setup setup, CPartFile& file, CConnectionCache& pool, const RequestPolicy& policy,
                      const EngineSettings& settings, EngineSignals& signals, CEvent& stop);
    ~CSegmentScheduler();
    CSegmentScheduler(const CSegmentScheduler&) = delete;
    CSegmentScheduler& operator=(const CSegmentScheduler&) = delete;

    // The size query's answer carries segment 0 from byte 0 when nothing of
    // it is written: the worker that takes its body, else null. Segments
    // the answer cannot reach begin at once.
    CDownloadWorker* TakeOverFirst();
    void EndTakeOver(bool transferOk);
    // Unfinished segments without a transfer get one while the pool has a
    // connection; unless `all`, those the size query's answer can still
    // reach are left to it. A file that may not widen has one transfer at
    // a time. True when some wait for a connection.
    bool StartPending(bool all);
    // Until every transfer ended: true, or false on a stop.
    bool Run();
    Outcome TakeOutcome();

private:
    struct Slot {
        std::unique_ptr<CDownloadWorker> worker;
        int restarts = 0;    // restarts without progress
        int64_t dueMs = 0;   // steady ms of the next one; 0: none due
        int64_t doneAt = 0;  // the segment's done count at the last (re)start
    };

    // WorkerHost
    bool Write(size_t index, int64_t& done, const char* bytes, size_t length) override;
    void OnBuffered(int64_t delta) override { m_signals.buffered += delta; }
    int TakeNext(int index, int64_t& start, int64_t& end) override;
    CConnectionCache& Pool() override { return m_pool; }
    const RequestPolicy& Policy() const override { return m_policy; }
    void OnWorkerDone(CDownloadWorker* worker, uint8_t state) override;

    void Begin(Slot& slot, size_t segment, int64_t done, CURL* easy);
    static bool Broken(const Slot& slot);
    bool RestartWaits() const;
    bool RestartBroken();
    void Watchdog();
    bool ReplanAfterIgnoredRange();
    void ResetSlots();

    const Setup m_setup;
    CPartFile& m_file;
    CConnectionCache& m_pool;
    const RequestPolicy& m_policy;
    const EngineSettings& m_settings;
    EngineSignals& m_signals;
    CEvent& m_stop;
    std::mutex m_slotLock;  // the slots
    Slot m_slots[kMaxSegments];
    std::atomic<int> m_nActive{0};  // attempts running: each that begins is counted, each that ends reports
    CEvent m_workerEnded;
    std::mutex m_outcomeLock;  // m_outcome, m_bRangeIgnored
    Outcome m_outcome;
    bool m_bRangeIgnored = false;
};
