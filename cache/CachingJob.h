// CCachingJob: brings every resource of the chosen meeting into the cache,
// in row order, up to kRowsInFlight rows at once. The job owns its engines
// (one per row in flight) and the pool of connections they share: a host
// takes as many rows at once as the pool gives it files (six on HTTP/1.1,
// a connection each; many on HTTP/2, streams of one connection). While
// rows wait to start, the rows in flight go side by side, one transfer
// each; the last rows may spread over the connections left (a large file
// on a slow link), and then have them before another row starts. Each row in flight has its own attempt rule (CAttemptRule), made
// when it starts; rows that name one cache path are kept apart by
// CRowPaths.
//
// CachingJob.cpp has the job's life (start, check, stop, end);
// CachingJobLanes.cpp the rows in flight.
//
// The caching thread runs Run (walk, integrity check, first download); the
// UI thread runs Start, Stop, OnDownloadEvent and ProgressTick. The progress
// lock serialises the check and the first download with the event handling
// and the ticks; nothing here waits for the UI thread (the view posts).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cache/AttemptRule.h"
#include "cache/CacheLayout.h"
#include "cache/CachingView.h"
#include "cache/RowPaths.h"
#include "framework/Event.h"
#include "net/ConnectionCache.h"
#include "net/HttpDownload.h"
#include "services/ResourceItem.h"

class CCachingJob {
public:
    using Items = std::vector<std::unique_ptr<ResourceItem>>;
    using Clock = std::function<int64_t()>;  // whole seconds
    // Applied to each engine before a job's downloads start (tests shorten
    // the engine's waits this way).
    using EngineSetUp = std::function<void(CHttpDownload&)>;

    static constexpr int kMaxRetries = CAttemptRule::kMaxRetries;
    static constexpr int64_t kStallSeconds = CAttemptRule::kStallSeconds;
    static constexpr size_t kRowsInFlight = CConnectionCache::kFilesOnHttp2;

    CCachingJob(Items& items, CCacheLayout& cache, CachingView& view, Clock now, EngineSetUp setUp = {});
    ~CCachingJob();

    // The window the engines post WM_DOWNLOAD_NOTIFY to.
    void SetOwnerWindow(HWND owner) { m_hOwner = owner; }

    bool IsRunning() const { return m_nCaching != 0; }
    // A download runs and its progress timer is on.
    bool IsDownloading();
    // The check or a download runs: the job's command is "停止缓存".
    bool IsWorking() { return m_nCaching != 0 && (m_bChecking || IsDownloading()); }
    // The caching thread still walks the rows (its updates may be queued
    // for the UI thread after it ends).
    bool IsChecking() const { return m_bChecking; }
    // Starts the job: the check runs on the caching thread. False when the
    // thread could not be made (the job then stays in its checking state).
    bool Start();
    // Stops the job: the walk ends at once, every engine is asked to stop
    // before any is waited for.
    void Stop();
    // A new resource list: the job forgets its row and its running state.
    void Reset();

    // Caching thread: the walk, the check and the first download.
    void Run();
    void GetFileSizeFunc();
    void DownloadCheck();

    // UI thread, on WM_DOWNLOAD_NOTIFY (from the engine `source`) and on
    // the timer.
    void OnDownloadEvent(uint8_t kind, LPARAM source);
    void ProgressTick();

    // A row failed and waits for its next attempt.
    bool IsWaitingToRetry();
    // The bytes a row in flight has on disk, or -1 when it is not in flight.
    int64_t InFlight(size_t row);
    // The engine of a lane (row 0 of a job goes to lane 0) and the pool.
    CHttpDownload& Engine(size_t lane) { return *m_engines[lane]; }
    CConnectionCache& Connections() { return m_pool; }

private:
    static constexpr size_t kNoRow = static_cast<size_t>(-1);

    // A row in flight and its engine.
    struct Lane {
        CHttpDownload* engine = nullptr;
        size_t row = kNoRow;  // kNoRow: free
        CAttemptRule rule;    // the row's attempts, since it started
    };

    ResourceItem* Row(size_t row) const;
    bool PathOf(size_t row, std::string& path);
    Lane* LaneOf(LPARAM source);
    bool InFlightRow(size_t row) const;
    void StartDownload(Lane& lane);
    void FailRow(size_t row, const std::string& why);
    void MarkCached(size_t row);
    void CacheFollowers(size_t row);
    bool StartNextRows();
    void StartRowsInOrder();
    bool HostHasRoom(size_t row) const;
    bool TakeRow(Lane& lane, size_t row);
    void EndRow(Lane& lane);
    void StopLanes();
    void Act(Lane& lane, CAttemptRule::Action action, const std::string& why);
    void Finish();
    void GiveUp();
    void ShowElapsedNow();
    void ShowWhyWaiting(const Lane& lane);
    void ClearNotice();
    int RunningPercent() const;

    Items& m_items;
    CCacheLayout& m_cache;
    CachingView& m_view;
    Clock m_now;
    EngineSetUp m_setUp;
    HWND m_hOwner = 0;

    std::mutex m_progressLock;
    std::thread m_thread;            // the caching thread while the check runs
    CEvent m_stopEvent;
    std::atomic<int> m_nStopFlag{0};
    std::atomic<int> m_nCaching{0};  // a job is on (from Start until stopped or given up)
    std::atomic<bool> m_bChecking{false};  // the caching thread walks and checks
    int64_t m_tStart = 0;
    int64_t m_tTick = 0;
    bool m_bTimerRunning = false;
    // Read by the window without the lock, so atomic.
    std::atomic<int64_t> m_nTotalBytes{0};     // sizes of the rows of known size
    std::atomic<int64_t> m_nFinishedBytes{0};  // bytes of the rows in place
    size_t m_nNextRow = 0;           // the first row not yet started by this job
    bool m_bRowsFailed = false;      // a row of this job failed for good
    CRowPaths m_paths;               // who owns each path (the check's)
    std::string m_strNoticeHost;     // the host the notice says cannot be reached
    CConnectionCache m_pool;         // before the engines: they use it to their end
    std::unique_ptr<CHttpDownload> m_engines[kRowsInFlight];
    Lane m_lanes[kRowsInFlight];     // under the progress lock
};
