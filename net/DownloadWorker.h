// CDownloadWorker: fetches one segment of a file for CHttpDownload on a
// thread of its own. It asks for the range from start + done to end, checks
// the answer before using a byte of it, hands the data to the engine in
// blocks of exactly kBlockSize bytes (but the last of an attempt), and tells
// the engine how the attempt ended.
//
// The round's scheduler owns the worker and calls Setup, Begin and Halt from
// its own threads; Run and the transfer callbacks run on the worker's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <curl/curl.h>
#include <string>
#include <thread>
#include <vector>

#include "net/ConnectionCache.h"
#include "net/RequestPolicy.h"
#include "net/TransferStop.h"
#include "net/Validators.h"

class CDownloadWorker;

// What a worker needs of the round it works for.
class WorkerHost {
public:
    // `length` bytes at segment `index`'s start + done; advances done.
    virtual bool Write(size_t index, int64_t& done, const char* bytes, size_t length) = 0;
    // Bytes received and held for the next block (negative once written).
    virtual void OnBuffered(int64_t delta) = 0;
    // At the end of segment `index`, for the size query's answer: the next
    // segment (first and last byte given), or -1 when another has it.
    virtual int TakeNext(int index, int64_t& start, int64_t& end) = 0;
    virtual CConnectionCache& Pool() = 0;
    virtual const RequestPolicy& Policy() const = 0;
    virtual void OnWorkerDone(CDownloadWorker* worker, uint8_t state) = 0;

protected:
    ~WorkerHost() = default;
};

class CDownloadWorker {
public:
    static constexpr size_t kBlockSize = 262144;
    static constexpr const char* kAgent = "http Download";

    enum : uint8_t { WORKER_NEW = 0, WORKER_RUNNING = 1, WORKER_FINISHED = 2, WORKER_FAILED = 4 };

    CDownloadWorker() = default;
    ~CDownloadWorker();
    CDownloadWorker(const CDownloadWorker&) = delete;
    CDownloadWorker& operator=(const CDownloadWorker&) = delete;

    void SetOwner(int index, WorkerHost* owner);
    // The URL (as listed: redirects are followed afresh by every request),
    // the segment, the file size every range answer must name, and the size
    // query's validators: every answer must carry the same version, and the
    // one fit for If-Range is sent there.
    void Setup(const std::string& url, int64_t start, int64_t done, int64_t end, int64_t fileSize,
               const Validators& reference);
    // Starts an attempt on a new thread with `easy`, a handle of the
    // engine's pool, given back when the attempt ends; false when no thread
    // could be made (the handle is then given back at once).
    bool Begin(CURL* easy);
    // Stops the attempt in flight at once, without waiting for its thread.
    void RequestHalt() { m_stop.Stop(); }
    // Stops the attempt in flight and waits for its thread. Never call it
    // from the worker's own thread.
    void Halt();

    // The engine's size query answer (the whole file, status 200, under way
    // on the engine's thread) carries this segment from byte 0 instead of a
    // request of its own: TakeOver begins the attempt, TakeBody takes the
    // answer's bytes (false stops that transfer), EndTakeOver reports its end.
    // At the end of its segment the answer goes on into the next one when
    // the engine lets it (no other transfer has that segment), so the first
    // connection alone carries the file while more connections do not pay.
    void TakeOver();
    bool TakeBody(const char* data, size_t size) { return m_bAccepted && Take(data, size); }
    void EndTakeOver(bool transferOk);

    uint8_t State() const { return m_nState; }
    // Steady-clock seconds of the last transfer activity (the watchdog's clock).
    int64_t LastActive() const { return m_tLastActive; }
    // The answer was a whole file (200) for a range that does not start at
    // byte 0: this server ignores ranges.
    bool RangeIgnored() const { return m_bRangeIgnored; }
    // The answer named another version of the file than the size query's.
    bool Changed() const { return m_bChanged; }
    // The status of an answer that was refused for it (403, 416 ...), else 0.
    long RefusedStatus() const { return m_nRefusedStatus; }
    // The validators of the last answer; on the worker's thread only.
    const Validators& AnswerValidators() const { return m_answer; }
    // The attempt broke off with the answer accepted: another attempt may
    // well finish it.
    bool BrokeOff() const { return m_bBrokeOff; }
    int Index() const { return m_nIndex; }
    int64_t Done() const { return m_nDone; }

private:
    friend struct WorkerTransfer;

    void Run();
    void ResetAttempt();
    void Report(uint8_t state);
    // The answer's status and headers decide whether its bytes may be used.
    bool AcceptAnswer(long status, const std::string& contentRange, int64_t contentLength);
    // Takes bytes of the body; false stops the transfer.
    bool Take(const char* data, size_t size);
    bool Flush();
    // At the end of the segment: goes on into the next one if the engine
    // gives it (take-over only).
    bool MoveOn();
    void Touch();
    uint8_t Finish(bool transferOk);

    int m_nIndex = 0;
    WorkerHost* m_pOwner = nullptr;
    std::string m_strUrl;
    Validators m_reference;  // the size query's
    int64_t m_nStart = 0;
    int64_t m_nDone = 0;     // advanced by the engine's WriteBlock
    int64_t m_nEnd = -1;
    int64_t m_nFileSize = 0;
    std::atomic<int64_t> m_tLastActive{0};
    std::atomic<uint8_t> m_nState{WORKER_NEW};
    CTransferStop m_stop;  // the halt
    std::atomic<bool> m_bRangeIgnored{false};
    std::atomic<bool> m_bChanged{false};
    std::atomic<bool> m_bBrokeOff{false};
    std::atomic<long> m_nRefusedStatus{0};
    std::thread m_thread;
    CURL* m_pEasy = nullptr;  // the attempt's handle (Begin to the end of Run)

    // Per attempt, worker thread only.
    std::vector<char> m_block;   // bytes not yet handed to the engine
    int64_t m_nWanted = 0;       // bytes this attempt must deliver
    int64_t m_nReceived = 0;     // bytes taken in this attempt
    bool m_bAccepted = false;    // the answer passed AcceptAnswer
    Validators m_answer;         // the answer's validators
    bool m_bWriteFailed = false;
    bool m_bTakingOver = false;  // the size query's answer is this attempt's
};
