#include "net/SegmentScheduler.h"

#include <utility>
#include <vector>

#include "common/SteadyClock.h"

CSegmentScheduler::CSegmentScheduler(Setup setup, CPartFile& file, CConnectionCache& pool,
                                     const RequestPolicy& policy, const EngineSettings& settings,
                                     EngineSignals& signals, CEvent& stop)
    : m_setup(std::move(setup)), m_file(file), m_pool(pool), m_policy(policy), m_settings(settings),
      m_signals(signals), m_stop(stop)
{
}

CSegmentScheduler::~CSegmentScheduler()
{
    ResetSlots();
    m_signals.wantsConnections = false;
    m_signals.awaitingConnection = false;
}

// Every worker is told first, then each is waited for: their ends overlap.
void CSegmentScheduler::ResetSlots()
{
    std::lock_guard<std::mutex> guard(m_slotLock);
    for (Slot& slot : m_slots) {
        if (slot.worker)
            slot.worker->RequestHalt();
    }
    for (Slot& slot : m_slots)
        slot = Slot{};
}

CDownloadWorker* CSegmentScheduler::TakeOverFirst()
{
    CDownloadWorker* worker = nullptr;
    {
        std::lock_guard<std::mutex> guard(m_slotLock);
        bool fresh = m_file.WithTable([](CSegmentTable& table) {
            if (table.Size() == 0 || table[0].done != 0)
                return false;
            table[0].state = SEGMENT_TAKEN;
            table.BeginChain();
            return true;
        });
        if (!fresh)
            return nullptr;
        Slot& slot = m_slots[0];
        slot = Slot{std::make_unique<CDownloadWorker>()};
        worker = slot.worker.get();
        worker->SetOwner(0, this);
        worker->Setup(m_setup.url, 0, 0, m_file.WithTable([](CSegmentTable& t) { return t[0].end; }),
                      m_setup.fileSize, m_setup.validators);
        m_nActive = 1;
        worker->TakeOver();
    }
    StartPending(false);
    return worker;
}

void CSegmentScheduler::EndTakeOver(bool transferOk)
{
    m_file.WithTable([](CSegmentTable& table) { table.EndChain(); });
    std::lock_guard<std::mutex> guard(m_slotLock);
    m_slots[0].worker->EndTakeOver(transferOk);
}

bool CSegmentScheduler::StartPending(bool all)
{
    std::lock_guard<std::mutex> guard(m_slotLock);
    bool one = !m_signals.mayWiden;
    if (one && (m_nActive > 0 || RestartWaits() || m_file.WithTable([](CSegmentTable& t) { return t.HasChain(); })))
        return false;
    std::vector<std::pair<size_t, CURL*>> begun;
    bool waiting = m_file.WithTable([&](CSegmentTable& table) {
        for (size_t k = table.Size(); k-- > 0;) {
            SegmentInfo& s = table[k];
            if (s.Finished() || s.state == SEGMENT_TAKEN || (!all && table.ChainReaches(k)))
                continue;
            CURL* easy = m_pool.Take(m_setup.url);
            if (!easy)
                return true;
            s.state = SEGMENT_TAKEN;
            begun.emplace_back(k, easy);
            if (one)
                break;
        }
        return false;
    });
    m_signals.wantsConnections = waiting && all;
    for (auto [k, easy] : begun)
        Begin(m_slots[k], k, m_file.WithTable([k = k](CSegmentTable& t) { return t[k].done; }), easy);
    return waiting;
}

// With the slot lock held: the slot's worker takes on `segment` from `done`.
void CSegmentScheduler::Begin(Slot& slot, size_t segment, int64_t done, CURL* easy)
{
    if (!slot.worker)
        slot.worker = std::make_unique<CDownloadWorker>();
    CDownloadWorker& worker = *slot.worker;
    worker.Halt();
    worker.SetOwner(static_cast<int>(segment), this);
    auto [start, end] = m_file.WithTable([&](CSegmentTable& t) { return std::pair(t[segment].start, t[segment].end); });
    worker.Setup(m_setup.url, start, done, end, m_setup.fileSize, m_setup.validators);
    slot.dueMs = 0;
    slot.doneAt = done;
    ++m_nActive;
    if (!worker.Begin(easy))
        --m_nActive;
}

// A worker whose transfer broke off (a dropped connection, a stalled
// transfer) is asked again after the retry wait, doubling, while the others
// run: one drop must not cost the file a whole new round. True while one
// waits for its restart.
bool CSegmentScheduler::RestartBroken()
{
    std::lock_guard<std::mutex> guard(m_slotLock);
    int64_t now = SteadyMilliseconds();
    bool pending = false;
    for (Slot& slot : m_slots) {
        CDownloadWorker* worker = slot.worker.get();
        if (!Broken(slot))
            continue;
        if (slot.dueMs == 0) {
            if (worker->Done() > slot.doneAt)
                slot.restarts = 0;  // it got somewhere: its count starts again
            if (slot.restarts >= kSegmentRestarts)
                continue;  // left to the round's end, which fails it
            slot.dueMs = now + (int64_t(m_settings.m_nFirstRetryWaitMs) << slot.restarts);
        }
        // A file that may not widen has one transfer at a time.
        bool due = now >= slot.dueMs && (m_signals.mayWiden || m_nActive == 0);
        CURL* easy = due ? m_pool.Take(m_setup.url) : nullptr;
        if (!easy) {
            pending = true;  // not due yet, or no connection: the next pass
            continue;
        }
        int restarts = slot.restarts + 1;
        Begin(slot, static_cast<size_t>(worker->Index()), worker->Done(), easy);
        slot.restarts = restarts;
    }
    return pending;
}

// With the slot lock held: the slot's transfer broke off and is asked again.
bool CSegmentScheduler::Broken(const Slot& slot)
{
    return slot.worker && slot.worker->State() == CDownloadWorker::WORKER_FAILED && slot.worker->BrokeOff();
}

// With the slot lock held: a broken-off transfer waits for its restart.
bool CSegmentScheduler::RestartWaits() const
{
    for (const Slot& slot : m_slots) {
        if (Broken(slot) && slot.restarts < kSegmentRestarts)
            return true;
    }
    return false;
}

// Restarts a worker that has been idle too long; the count stays exact,
// since the halted attempt reports its end before the new one begins.
void CSegmentScheduler::Watchdog()
{
    std::lock_guard<std::mutex> guard(m_slotLock);
    int64_t now = SteadySeconds();
    for (Slot& slot : m_slots) {
        CDownloadWorker* worker = slot.worker.get();
        if (!worker || now - worker->LastActive() <= m_settings.m_nWorkerIdleSeconds)
            continue;
        uint8_t state = worker->State();
        if (state != CDownloadWorker::WORKER_RUNNING && state != CDownloadWorker::WORKER_FAILED)
            continue;
        worker->Halt();
        if (CURL* easy = m_pool.Take(m_setup.url))
            Begin(slot, static_cast<size_t>(worker->Index()), worker->Done(), easy);
    }
}

bool CSegmentScheduler::Run()
{
    CEvent* events[] = {&m_stop, &m_workerEnded};
    do {
        for (;;) {
            bool waiting = StartPending(true);
            bool pending = RestartBroken();
            m_signals.awaitingConnection = (waiting || pending) && m_nActive == 0;
            if (m_nActive == 0 && !waiting && !pending)
                break;
            if (WaitForMultipleObjects(2, events, waiting ? 20 : pending ? 100 : 1000) == WAIT_OBJECT_0)
                return false;
            m_workerEnded.ResetEvent();
            Watchdog();
        }
        if (m_stop.IsSet())
            return false;
    } while (ReplanAfterIgnoredRange());
    m_signals.wantsConnections = false;
    m_signals.awaitingConnection = false;
    return true;
}

// A server that answers ranges with the whole file can only be read from
// byte 0: the file starts over as one segment (nothing already written is
// kept, since only a request from byte 0 can be answered).
bool CSegmentScheduler::ReplanAfterIgnoredRange()
{
    {
        std::lock_guard<std::mutex> guard(m_outcomeLock);
        if (!std::exchange(m_bRangeIgnored, false))
            return false;
    }
    bool replan = m_file.WithTable([](CSegmentTable& t) {
        return !t.AllFinished() && !(t.Size() == 1 && t[0].done == 0);
    });
    if (!replan)
        return false;
    ResetSlots();
    m_file.ReplanWhole();
    return true;
}

CSegmentScheduler::Outcome CSegmentScheduler::TakeOutcome()
{
    std::lock_guard<std::mutex> guard(m_outcomeLock);
    return std::exchange(m_outcome, Outcome{});
}

bool CSegmentScheduler::Write(size_t index, int64_t& done, const char* bytes, size_t length)
{
    return m_file.Write(index, done, bytes, length);
}

int CSegmentScheduler::TakeNext(int index, int64_t& start, int64_t& end)
{
    return m_file.WithTable([&](CSegmentTable& t) { return t.TakeNext(index, start, end); });
}

// An attempt that ends (stopped, failed or done) leaves its bytes counted;
// after the last byte of the file the final sync does that.
void CSegmentScheduler::OnWorkerDone(CDownloadWorker* worker, uint8_t)
{
    {
        std::lock_guard<std::mutex> guard(m_outcomeLock);
        m_bRangeIgnored = m_bRangeIgnored || worker->RangeIgnored();
        if (worker->Changed())
            m_outcome.changedTo = worker->AnswerValidators().Describe();
        if (worker->RefusedStatus() != 0)
            m_outcome.refusedStatus = worker->RefusedStatus();
    }
    bool last = --m_nActive == 0;
    if (last && m_file.WithTable([](CSegmentTable& t) { return t.AllFinished(); }) && m_file.SyncFailure().empty())
        m_signals.finishing = true;
    else
        m_file.SyncWritten();
    m_workerEnded.SetEvent();
}
