// CHttpDownload: downloads one remote file into a destination path,
// resumably, in up to four byte ranges fetched in parallel.
//
// The engine is a session: Start and Stop, rounds until the file is in
// place, the wait between rounds after a failure, and the owner's notice.
// Each round (CDownloadRound) asks for the size and runs the segments'
// transfers (CSegmentScheduler, CDownloadWorker) into the part file
// (CPartFile: the temporary file and the side file beside the
// destination); a complete file is synced, checked and placed by
// CCompletion. A crash at any instant leaves either a resumable pair or the
// complete destination.
//
// Threads: the owner calls Start and Stop and reads m_nFileSize,
// m_nDownloaded and m_nState without a lock; the engine's download thread
// runs the rounds. The owner hears of the end only through the posted
// WM_DOWNLOAD_NOTIFY (wParam DOWNLOAD_FINISHED or DOWNLOAD_FAILED, lParam
// the engine); m_nState takes that value only when it is posted.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "framework/Event.h"
#include "framework/Win32Types.h"
#include "net/Completion.h"
#include "net/ConnectionCache.h"
#include "net/DownloadFailure.h"
#include "net/DownloadNotify.h"
#include "net/DownloadRound.h"
#include "net/EngineSettings.h"
#include "net/PartFile.h"
#include "net/RequestPolicy.h"
#include "net/TransferStop.h"

class CHttpDownload : public EngineSettings {
public:
    static constexpr int kSizeQueryAttempts = CDownloadRound::kSizeQueryAttempts;
    static constexpr int64_t kFreeSpaceReserve = CPartFile::kFreeSpaceReserve;
    static constexpr int64_t kMaxFileSize = CDownloadRound::kMaxFileSize;
    static constexpr int64_t kSyncBytes = CPartFile::kSyncBytes;
    static constexpr unsigned long kLongestRetryWaitMs = 30000;
    // Answers that disagree on the file's version (the nodes of a load
    // balancer, each with its own ETag): the file is fetched in one stream
    // from byte 0, at most this many times in one start.
    static constexpr int kConsistentCopyAttempts = 4;

    // What Start accepts as a URL: a scheme of two or more characters and
    // a colon. Anything else starts nothing.
    static bool AcceptsUrl(const char* text);

    CHttpDownload();
    ~CHttpDownload();
    CHttpDownload(const CHttpDownload&) = delete;
    CHttpDownload& operator=(const CHttpDownload&) = delete;

    // Stops what ran before and starts downloading `url` into `dest` on the
    // download thread. Always 0; a text that is not a URL starts nothing.
    // `md5`, when it is 32 hex digits, is what the file's digest must be: a
    // file that differs is fetched once more from scratch, kept when both
    // copies agree and have `listedSize` bytes (the size the list gives, 0
    // when not known; the digest then describes something else), else failed.
    int Start(const char* url, const char* dest, int unused = 0, const char* md5 = nullptr, int64_t listedSize = 0);
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
    bool IsFinishing() const { return m_signals.finishing; }
    // Why the last posted DOWNLOAD_FAILED came (of this start).
    DownloadFailure LastFailure() const;
    // Bytes received so far: written, plus what the workers hold for their
    // next block. What a slow link's progress shows in, long before a
    // block is full.
    int64_t Progress() const { return m_nDownloaded + m_signals.buffered; }
    // After DOWNLOAD_FINISHED: the file was kept although its digest is not
    // the md5 given to Start (two copies agreed on another one).
    bool ChecksumOverruled() const { return m_completion.ChecksumOverruled(); }
    CConnectionCache& Connections() const { return *m_pConnections; }

    // Takes its connections from `pool` (shared with other engines, so
    // several files in flight stay within the pool's connections) instead
    // of its own. Before the first Start.
    void ShareConnections(CConnectionCache& pool) { m_pConnections = &pool; }
    // Set up like `other` (the owner window, the settings) and sharing its
    // connections. Not while either runs.
    void SetUpLike(const CHttpDownload& other);
    // Whether this file may take connections beyond its first (default
    // yes). An owner with more files to start says no: the connections
    // then carry whole files side by side, one transfer each, which costs
    // no range requests.
    void AllowMoreConnections(bool allow) { m_signals.mayWiden = allow; }
    // Nothing of the file moves because other files hold every connection:
    // no stall, however long it takes.
    bool WaitsForConnection() const { return m_signals.awaitingConnection; }
    // Segments of this file wait for a connection that would pay.
    bool WantsConnections() const { return m_signals.wantsConnections; }

    HWND m_hOwnerWnd = 0;  // receives WM_DOWNLOAD_NOTIFY; set by the owner
    std::atomic<int64_t> m_nFileSize{0};
    std::atomic<int64_t> m_nDownloaded{0};
    std::atomic<uint8_t> m_nState{0};

private:
    // A round's result besides 0 and -1: fetch the file anew at once.
    static constexpr int kFetchAgain = 1;

    void DownloadProc();
    int DownloadRound();
    int VersionsDisagree(DownloadFailure failure);
    int FinishFile();
    // Keeps the failure for LastFailure and posts DOWNLOAD_FAILED, unless a
    // stop began.
    void Fail(const DownloadFailure& failure);
    void Post(uint8_t state, const char* reason);
    bool Stopping() const { return m_nStopFlag != 0; }

    std::string m_strUrl;       // as started, escaped for the transport: every request begins here
    std::string m_strDestPath;
    std::string m_strFile;      // what was started: URL, destination, md5, listed size
    bool m_bOneStream = false;  // answers disagreed: one stream from byte 0 (download thread, and Start)
    int m_nDisagreements = 0;   // rounds of m_strFile whose answers disagreed (download thread, and Start)
    double m_fRate = 0;         // the size query's answer's rate on the last file (download thread)
    mutable std::mutex m_failureLock;  // m_failure
    DownloadFailure m_failure;         // the last posted failure
    RequestPolicy m_policy;
    EngineSignals m_signals;
    CPartFile m_file{m_nDownloaded};
    CCompletion m_completion;
    std::thread m_thread;    // runs DownloadProc
    mutable CConnectionCache m_connections;  // kept across attempts and files, until CloseConnections
    CConnectionCache* m_pConnections = &m_connections;  // the pool in use: this one or a shared one
    CEvent m_stopEvent;
    std::atomic<int> m_nStopFlag{0};
    CTransferStop m_queryStop{&m_nStopFlag};  // the size query's
};
