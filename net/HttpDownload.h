// CHttpDownload: downloads one remote file into a destination path in up to
// four byte ranges fetched in parallel (CDownloadWorker), resumably.
//
// On disk beside the destination: the temporary file (destination +
// ".tmp!", at full size from the start) and the side file (destination +
// ".info", the segment plan). Data reaches the temporary file before the
// side file that claims it is replaced, and the temporary file is synced
// before it is renamed to the destination, so a crash at any instant leaves
// either a resumable pair or the complete destination. The final sync and
// the rename run on a thread of their own (CFileFinisher): they may take
// minutes on a slow disk, and no stop waits for them.
//
// Threads: the owner calls Start and Stop and reads m_nFileSize and
// m_nDownloaded without a lock; the engine's download thread plans and
// watches the workers; each worker runs on its own thread and calls
// WriteBlock and OnWorkerDone. The owner hears of the end only through the
// posted WM_DOWNLOAD_NOTIFY (wParam DOWNLOAD_FINISHED or DOWNLOAD_FAILED,
// lParam the engine).
#pragma once

#include <atomic>
#include <curl/curl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "framework/Event.h"
#include "framework/Win32Types.h"
#include "net/DownloadFailure.h"
#include "net/DownloadNotify.h"
#include "net/ConnectionCache.h"
#include "net/DownloadWorker.h"
#include "net/FileFinisher.h"
#include "net/SegmentInfo.h"

struct SizeQueryTransfer;

class CHttpDownload {
public:
    static constexpr int kSizeQueryAttempts = 5;
    // Room that must stay free beyond the file's size.
    static constexpr int64_t kFreeSpaceReserve = 104857600;
    // A worker without transport activity for this long is restarted.
    static constexpr int64_t kWorkerIdleSeconds = 600;
    // Waits between rounds after a posted failure: 1 s, doubling, at most 30 s.
    static constexpr unsigned long kFirstRetryWaitMs = 1000;
    static constexpr unsigned long kLongestRetryWaitMs = 30000;
    // Larger sizes (a hostile Content-Length near 2^63) are refused, so the
    // arithmetic on sizes and offsets cannot overflow.
    static constexpr int64_t kMaxFileSize = int64_t(1) << 60;
    // The side file is brought up to date (after the data is synced) once
    // this much was written or this long passed since the last time.
    static constexpr int64_t kSyncBytes = 4194304;
    static constexpr int64_t kSyncSeconds = 1;
    // A transfer that receives nothing for this long fails its attempt.
    static constexpr long kTransferStallSeconds = 60;
    // A segment whose transfer broke off is asked again after the retry
    // wait while the others run, this many times without progress.
    static constexpr int kSegmentRestarts = 3;

    // What Start accepts as a URL: a scheme of two or more characters and
    // a colon. Anything else starts nothing.
    static bool AcceptsUrl(const char* text);

    CHttpDownload() = default;
    ~CHttpDownload();
    CHttpDownload(const CHttpDownload&) = delete;
    CHttpDownload& operator=(const CHttpDownload&) = delete;

    // Stops what ran before and starts downloading `url` into `dest` on the
    // download thread. Always 0; a text that is not a URL starts nothing.
    // `md5`, when it is 32 hex digits, is what the file's digest must be: a
    // file that differs is fetched once more from scratch, kept when both
    // copies agree (the digest then describes something else), else failed.
    int Start(const char* url, const char* dest, int unused = 0, const char* md5 = nullptr);
    // Returns once the download thread and every worker have ended. The
    // temporary and side files stay for the next Start. A file being
    // finished is left to its sync; the next Start waits for it.
    void Stop();
    // Asks the download thread and every worker to stop, without waiting:
    // an owner of several engines raises every flag first, then calls Stop
    // on each, so the waits overlap.
    void RequestStop();
    // Stops, and closes the connections kept for the next transfers (the
    // owner is done with the host for now).
    void CloseConnections();
    // Every byte is written: the file is being synced and moved into place,
    // or is there. Not a stall, however long the disk takes.
    bool IsFinishing() const { return m_bFinishing; }
    // Why the last posted DOWNLOAD_FAILED came (of this start).
    DownloadFailure LastFailure() const;
    // Bytes received so far: written, plus what the workers hold for their
    // next block. What a slow link's progress shows in, long before a
    // block is full.
    int64_t Progress() const { return m_nDownloaded + m_nBuffered; }
    // After DOWNLOAD_FINISHED: the file was kept although its digest is not
    // the md5 given to Start (two copies agreed on another one).
    bool ChecksumOverruled() const { return m_bChecksumOverruled; }

    // Called by the workers on their threads.
    bool WriteBlock(int index, int64_t start, int64_t& done, const char* bytes, size_t length);
    void OnWorkerDone(CDownloadWorker* worker, uint8_t state);
    void OnBuffered(int64_t delta) { m_nBuffered += delta; }
    CConnectionCache& Connections() const { return *m_pConnections; }
    // Called by the size query's answer at the end of segment `index`: the
    // next segment (with its first and last byte), now the answer's, or -1
    // when another transfer has it.
    int TakeNextSegment(int index, int64_t& start, int64_t& end);

    // Takes its connections from `pool` (shared with other engines, so
    // several files in flight stay within the pool's connections) instead
    // of its own. Before the first Start.
    void ShareConnections(CConnectionCache& pool) { m_pConnections = &pool; }
    // Set up like `other` (the owner window, the settings below) and
    // sharing its connections. Not while either runs.
    void SetUpLike(const CHttpDownload& other);
    // Whether this file may take connections beyond its first (default
    // yes). An owner with more files to start says no: the connections
    // then carry whole files side by side, which costs no range requests.
    void AllowMoreConnections(bool allow) { m_bMayWiden = allow; }
    // The size query waits for a connection that other files hold: no
    // stall, however long it takes.
    bool WaitsForConnection() const { return m_bAwaitingConnection; }
    // Segments of this file wait for a connection that would pay.
    bool WantsConnections() const { return m_bWantsConnections; }

    // The request headers of the size query and the range requests (the
    // range line, when given, comes last, then If-Range with the validator
    // when there is one); the caller frees the list.
    static curl_slist* RequestHeaders(const std::string& host, const char* rangeLine,
                                      const std::string& validator = std::string());
    void ConfigureTransfer(CURL* easy, const std::string& url, curl_slist* headers) const;

    HWND m_hOwnerWnd = 0;  // receives WM_DOWNLOAD_NOTIFY; set by the owner
    std::atomic<int64_t> m_nFileSize{0};
    std::atomic<int64_t> m_nDownloaded{0};
    std::atomic<uint8_t> m_nState{0};
    // Free bytes for a path; replaceable so tests can play a full disk.
    std::function<int64_t(const std::string&)> m_freeSpace;
    // kTransferStallSeconds; tests shorten it.
    long m_nStallSeconds = kTransferStallSeconds;
    // kWorkerIdleSeconds; tests shorten it.
    int64_t m_nWorkerIdleSeconds = kWorkerIdleSeconds;
    // kFirstRetryWaitMs, the first wait after a failed round or a broken
    // segment; tests shorten it.
    unsigned long m_nFirstRetryWaitMs = kFirstRetryWaitMs;
    // The final sync of a file (fsync); replaceable so tests can play a slow disk.
    CFileFinisher::Sync m_finalSync;
    // The sync of data before the side file counts it (fdatasync);
    // replaceable so tests can play a failing disk.
    CFileFinisher::Sync m_dataSync;
    // Whether more connections pay (MoreConnectionsPay); replaceable so
    // tests can have the segments at once, or never.
    std::function<bool(int64_t remaining, double bytesPerSecond, double requestSeconds)> m_morePay;

private:
    friend struct SizeQueryTransfer;

    // A round's result besides 0 and -1: fetch the file anew at once.
    static constexpr int kFetchAgain = 1;

    void DownloadProc();
    int DownloadRound();
    int QueryFileSize();
    // The size query's answer: 0 when it names a usable size (kept, with
    // the validator), else -3 with m_queryFailure set.
    int AcceptSize(long status, int64_t length, const Validators& validators);
    CDownloadWorker* TakeOverFirstSegment();
    void EndTakeOver(SizeQueryTransfer& query, CURLcode code);
    bool MorePay(int64_t remaining, double bytesPerSecond, double requestSeconds) const;
    CURL* AwaitConnection();
    int PrepareFile();
    void InitSegments(bool loadAllowed);
    int RunSegments();
    bool StartPendingSegments(bool all);
    bool ChainReaches(size_t k) const;
    void BeginWorker(size_t slot, size_t segment, CURL* easy);
    void ResetWorkers();
    void Watchdog();
    void RestartBrokenSegments();
    bool RestartPending();
    int EndRound();
    void Discard(bool temporaryToo);
    bool ReplanAfterIgnoredRange();
    bool AllSegmentsFinished() const;
    int FinishFile();
    bool AwaitFinisher();
    bool SaveInfoFile();
    bool SyncProgress();
    // Posts m_nState unless a stop began; `reason` goes to the diagnostic line.
    void NotifyOwner(const char* reason);
    // Keeps the failure for LastFailure and posts DOWNLOAD_FAILED.
    void Fail(const DownloadFailure& failure);
    void Post(const char* reason);
    bool Stopping() const { return m_nStopFlag != 0; }

    std::string m_strInfoPath;
    std::string m_strTempPath;
    std::string m_strUrl;    // replaced by a redirect target during the size query
    std::string m_strHost;   // Host header: host of m_strUrl without port
    std::string m_strDestPath;
    DownloadFailure m_queryFailure;    // why the last size query failed (download thread)
    DownloadFailure m_prepareFailure;  // why PrepareFile failed (download thread)
    mutable std::mutex m_failureLock;  // m_failure
    DownloadFailure m_failure;         // the last posted failure
    std::string m_strStartUrl;    // as started: with the validator, what the side file describes
    Validators m_validators;      // of the last size query (download thread)
    std::string m_strMd5;         // what the file's digest must be, or empty
    std::string m_strFirstDigest; // of a first copy that did not match m_strMd5 (download thread)
    std::atomic<uint64_t> m_nIdentity{0};  // SideFileIdentity of this file
    // This round's size query prepared the file (with this result) and
    // perhaps started the workers, its answer carrying segment 0 (download
    // thread).
    bool m_bPrepared = false;
    int m_nPrepared = 0;
    bool m_bWorkersStarted = false;
    std::thread m_thread;    // runs DownloadProc
    mutable CConnectionCache m_connections;  // kept across attempts and files, until CloseConnections
    CConnectionCache* m_pConnections = &m_connections;  // the pool in use: this one or a shared one
    // The size query's answer's rate on the last file (bytes a second; 0:
    // none yet), what a new file is judged by until its own is measured
    // (download thread).
    double m_fRate = 0;

    std::mutex m_fileLock;     // temp file, written counts, the handover to the finisher
    std::mutex m_infoLock;     // writing the side file; taken inside m_fileLock only
    std::mutex m_segmentLock;  // the plan's shape and the worker slots
    std::vector<SegmentInfo> m_segments;
    fsys::Handle m_fd = fsys::kNoFile;  // the temporary file while open
    int64_t m_nUnsyncedBytes = 0;  // written since the side file was last brought up to date (file lock)
    int64_t m_tLastSync = 0;       // steady seconds of that (file lock)
    bool m_bRangeIgnored = false;  // a server answered a range with the whole file (file lock)
    bool m_bSyncFailed = false;    // this round's data sync failed: nothing more is counted (file lock)
    std::string m_strSyncFailure;  // why (file lock)
    std::string m_strChangedTo;    // the other version a range answer named (file lock)
    long m_nRangeStatus = 0;       // the status a range answer was refused for (file lock)
    // Per worker slot, under the segment lock: how its broken-off
    // transfers are being asked again.
    struct SlotRestarts {
        int count = 0;        // restarts without progress
        int64_t dueMs = 0;    // steady ms of the next one; 0: none due
        int64_t doneAt = 0;   // the segment's done count at the last (re)start
    };
    SlotRestarts m_slotRestarts[kMaxSegments];
    std::unique_ptr<CDownloadWorker> m_workers[kMaxSegments];
    std::atomic<int> m_nActiveWorkers{0};
    int m_nChainAt = -1;  // the segment the size query's answer is in; -1: none (segment lock)
    std::atomic<bool> m_bWantsConnections{false};
    std::atomic<bool> m_bMayWiden{true};
    std::atomic<bool> m_bAwaitingConnection{false};
    std::atomic<int64_t> m_nBuffered{0};  // received by the workers, not yet written
    CEvent m_stopEvent;
    CEvent m_workerEnded;      // a worker's attempt ended
    std::atomic<int> m_nStopFlag{0};
    std::atomic<bool> m_bFinishing{false};
    std::atomic<bool> m_bChecksumOverruled{false};
    // The file being finished, by this start or one stopped before it;
    // touched by the download thread, and by Stop once that has ended.
    std::unique_ptr<CFileFinisher> m_finisher;
};
