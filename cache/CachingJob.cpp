#include "cache/CachingJob.h"

#include "cache/Figures.h"
#include "common/FileSystem.h"
#include "common/Trace.h"
#include "net/UrlHost.h"

CCachingJob::CCachingJob(Items& items, CCacheLayout& cache, CHttpDownload& engine, CachingView& view,
                         Clock now)
    : m_items(items), m_cache(cache), m_engine(engine), m_view(view), m_now(std::move(now))
{
    m_lanes[0].engine = &m_engine;
    for (size_t i = 1; i < kRowsInFlight; ++i) {
        m_extraEngines[i - 1] = std::make_unique<CHttpDownload>();
        m_lanes[i].engine = m_extraEngines[i - 1].get();
    }
}

CCachingJob::~CCachingJob()
{
    m_nStopFlag = 1;
    m_stopEvent.SetEvent();
    if (m_thread.joinable())
        m_thread.join();
}

bool CCachingJob::Start()
{
    m_view.ShowElapsed("完整性检查中");
    m_nCaching = 1;
    m_view.ShowPhase(CachingView::Phase::Checking);
    m_tStart = m_now();
    m_stopEvent.ResetEvent();
    m_nStopFlag = 0;
    if (m_thread.joinable())
        m_thread.join();  // the last check, long over
    m_bChecking = true;
    try {
        m_thread = std::thread(&CCachingJob::Run, this);
    } catch (const std::system_error&) {
        m_bChecking = false;
        return false;
    }
    return true;
}

void CCachingJob::Stop()
{
    m_nCaching = 0;
    m_view.ShowPhase(CachingView::Phase::Stopped);
    m_stopEvent.SetEvent();
    m_nStopFlag = 1;
    if (m_thread.joinable())
        m_thread.join();
    StopLanes();
    std::lock_guard<std::mutex> guard(m_progressLock);
    if (m_bTimerRunning) {
        m_view.StopProgressTimer();
        m_view.ShowElapsed("");
        m_bTimerRunning = false;
    }
    // The rows that were downloading say so no more, with what they have.
    for (Lane& lane : m_lanes) {
        ResourceItem* item = Row(lane.row);
        if (item && item->status == STATUS_CACHING) {
            item->downloaded = lane.engine->m_nDownloaded;
            item->status = STATUS_STOPPED;
            m_view.ShowRowPercent(lane.row, std::to_string(Percent(item->downloaded, item->size)) + "%");
            m_view.ShowRowStatus(lane.row, STATUS_STOPPED);
        }
        lane.row = kNoRow;
    }
}

// Every engine stops; the connections they kept close.
void CCachingJob::StopLanes()
{
    for (Lane& lane : m_lanes)
        lane.engine->Stop();
    m_engine.CloseConnections();
}

bool CCachingJob::IsDownloading()
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    return m_bTimerRunning;
}

void CCachingJob::Reset()
{
    m_nStopFlag = 1;
    m_stopEvent.SetEvent();
    if (m_thread.joinable())
        m_thread.join();
    // The last job's downloads end here: their rows are about to go.
    StopLanes();
    std::lock_guard<std::mutex> guard(m_progressLock);
    m_nCaching = 0;
    for (Lane& lane : m_lanes)
        lane.row = kNoRow;
    if (m_bTimerRunning)
        m_view.StopProgressTimer();
    m_bTimerRunning = false;
}

// Events and ticks that arrive while this runs (left from a stopped job) are
// dropped, so the walk and the check have the rows and the cache list alone.
void CCachingJob::Run()
{
    m_cache.ScanCache();
    std::lock_guard<std::mutex> guard(m_progressLock);
    m_bRowsFailed = false;
    GetFileSizeFunc();
    DownloadCheck();
    m_bChecking = false;
}

ResourceItem* CCachingJob::Row(size_t row) const
{
    return row < m_items.size() ? m_items[row].get() : nullptr;
}

// False for a resource whose names would lead out of the cache: it is
// never downloaded.
bool CCachingJob::PathOf(size_t row, std::string& path)
{
    ResourceItem* item = Row(row);
    return item && m_cache.GetCachePath(*item, path);
}

void CCachingJob::MarkCached(size_t row)
{
    Row(row)->status = STATUS_CACHED;
    m_view.ShowRowPercent(row, "100%");
    m_view.ShowRowStatus(row, STATUS_CACHED);
}

void CCachingJob::GetFileSizeFunc()
{
    m_nTotalBytes = 0;
    m_nFinishedBytes = 0;
    for (size_t i = 0; i < m_items.size(); ++i) {
        ResourceItem* item = Row(i);
        std::string path;
        if (!PathOf(i, path)) {
            FailRow(i);
        } else if (item->size > 0) {
            if (m_cache.IsCached(path, item->size)) {
                m_nFinishedBytes += item->size;
                MarkCached(i);
            } else if (item->status == STATUS_CACHED) {
                // Its file is gone since an earlier job: download it again.
                item->status = STATUS_NOT_STARTED;
                m_view.ShowRowPercent(i, "");
            }
            m_view.ShowRowStatus(i, item->status);
            m_nTotalBytes += item->size;
        } else {
            fsys::Info st = fsys::Stat(path);
            if (m_cache.IsCached(path, 0) && st.exists) {
                item->size = st.size;
                m_nFinishedBytes += item->size;
                MarkCached(i);
            } else {
                item->size = 0;
                FailRow(i);
            }
        }
    }
}

void CCachingJob::DownloadCheck()
{
    if (m_nStopFlag)
        return;
    // From the first row: one that failed in an earlier run (before a stop,
    // too) is tried again, and a job never ends complete past it.
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (m_stopEvent.IsSet())
            return;
        std::string path;
        if (Row(i)->status == STATUS_CACHED && PathOf(i, path)) {
            MarkCached(i);
            m_view.ShowBar(m_nFinishedBytes < m_nTotalBytes ? Percent(m_nFinishedBytes, m_nTotalBytes) : 99);
        }
    }
    m_nNextRow = 0;
    for (Lane& lane : m_lanes)
        lane.engine->SetUpLike(m_engine);
    if (StartNextRows()) {
        m_view.ShowElapsed("");
        m_view.StartProgressTimer();
        m_bTimerRunning = true;
        m_view.ShowBar(RunningPercent());
    } else if (m_bRowsFailed) {
        GiveUp();
    } else {
        m_view.ShowBar(100);
        m_tTick = m_now();
        ShowElapsedNow();
        m_view.ShowPhase(CachingView::Phase::CompleteAtOnce);
    }
}

// Starts (or starts again) the download of a lane's row; its directory is
// made again if it was deleted meanwhile.
void CCachingJob::StartDownload(Lane& lane)
{
    std::string path;
    PathOf(lane.row, path);
    CCacheLayout::MakeDirs(path.substr(0, path.rfind('/') + 1));
    lane.retryAt = 0;
    ResourceItem* item = Row(lane.row);
    lane.engine->Start(item->url.c_str(), path.c_str(), 0, item->md5.c_str());
    item->status = STATUS_CACHING;
    m_view.ShowRowStatus(lane.row, STATUS_CACHING);
    lane.lastSeen = lane.engine->Progress();
    lane.tLastChange = m_now();
}

// A row that cannot be cached now: the job goes on without it.
void CCachingJob::FailRow(size_t row)
{
    Row(row)->status = STATUS_FAILED;
    m_view.ShowRowStatus(row, STATUS_FAILED);
    m_bRowsFailed = true;
}

// The next rows that are missing go to the free lanes, in row order; none
// starts while a row in flight waits for connections for its segments.
// True while a row is in flight.
bool CCachingJob::StartNextRows()
{
    for (Lane& lane : m_lanes) {
        if (lane.row != kNoRow && lane.engine->WantsConnections())
            return true;
    }
    for (Lane& lane : m_lanes) {
        for (; lane.row == kNoRow && m_nNextRow < m_items.size(); ++m_nNextRow) {
            size_t i = m_nNextRow;
            ResourceItem* item = Row(i);
            std::string path;
            if (item->size == 0 || item->status == STATUS_CACHED || !PathOf(i, path))
                continue;
            if (m_cache.IsCached(path, item->size)) {
                m_nFinishedBytes += item->size;
                MarkCached(i);
            } else if (!CHttpDownload::AcceptsUrl(item->url.c_str())) {
                FailRow(i);
            } else {
                lane.row = i;
                lane.retries = 0;
                StartDownload(lane);
            }
        }
    }
    // While rows wait, the connections carry them side by side; the last
    // rows may spread over the connections left.
    bool inFlight = false;
    for (Lane& lane : m_lanes) {
        lane.engine->AllowMoreConnections(m_nNextRow >= m_items.size());
        inFlight |= lane.row != kNoRow;
    }
    return inFlight;
}

// A lane's row ended (cached or failed for good): the lane takes the next
// row; when none is left in flight the job ends, complete or with rows that
// failed.
void CCachingJob::EndRow(Lane& lane)
{
    lane.row = kNoRow;
    lane.retryAt = 0;
    if (StartNextRows())
        return;
    if (m_bRowsFailed)
        GiveUp();
    else
        Finish();
}

void CCachingJob::Finish()
{
    m_engine.CloseConnections();
    m_view.StopProgressTimer();
    m_bTimerRunning = false;
    m_view.ShowBar(100);
    m_view.ShowPhase(CachingView::Phase::Complete);
}

// The end of a job with rows that failed: what is cached can be served, and
// a new start checks again from the first row and fetches what is missing.
void CCachingJob::GiveUp()
{
    if (m_bTimerRunning)
        m_view.StopProgressTimer();
    m_bTimerRunning = false;
    m_nCaching = 0;
    // The bar shows what is cached, not the last tick of a row that failed,
    // and the time line how long the job took.
    m_view.ShowBar(m_nTotalBytes > 0 ? Percent(m_nFinishedBytes, m_nTotalBytes) : 0);
    m_tTick = m_now();
    ShowElapsedNow();
    m_view.ShowPhase(CachingView::Phase::GivenUp);
    m_engine.CloseConnections();
}

// A failed or stalled attempt is made again up to kMaxRetries times in a
// row without progress, after a wait that doubles from 1 s (a content host
// gone for a few seconds costs time, not rows); then the row fails and the
// job goes on.
void CCachingJob::RetryOrFail(Lane& lane, const char* reason)
{
    DebugLog("caching row %zu: %s", lane.row, reason);
    lane.engine->Stop();
    if (lane.retries < kMaxRetries) {
        lane.retryAt = m_now() + (int64_t(1) << lane.retries);
        ++lane.retries;
        ShowWhyWaiting(lane);
        return;
    }
    FailRow(lane.row);
    EndRow(lane);
}

CCachingJob::Lane* CCachingJob::LaneOf(LPARAM source)
{
    for (Lane& lane : m_lanes) {
        if (lane.row != kNoRow && reinterpret_cast<LPARAM>(lane.engine) == source)
            return &lane;
    }
    return nullptr;
}

// Events of a stopped job (still queued when it stopped) start nothing.
// The check is read under the lock: an event that arrives while the check
// ends waits for it and is then handled, never lost.
void CCachingJob::OnDownloadEvent(uint8_t kind, LPARAM source)
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    Lane* lane = LaneOf(source);
    // An event the engine's current start did not post (queued before a
    // restart or a stop) is stale; a row is cached only with its whole
    // file in place.
    if (m_bChecking || !m_nCaching || !lane || lane->retryAt != 0 || lane->engine->m_nState != kind)
        return;
    int64_t received = lane->engine->m_nDownloaded;
    ResourceItem* item = Row(lane->row);
    std::string path;
    if (!item || (kind == DOWNLOAD_FINISHED && !(PathOf(lane->row, path) && fsys::Stat(path).regular)))
        return;
    if (kind == DOWNLOAD_FINISHED) {
        item->downloaded = received;
        MarkCached(lane->row);
        m_nFinishedBytes += received;
        EndRow(*lane);
    } else if (kind == DOWNLOAD_FAILED) {
        // Two copies that differ from each other and from the md5: another
        // try would only fetch a third.
        if (lane->engine->LastFailure().cause == FailureCause::Checksum)
            lane->retries = kMaxRetries;
        RetryOrFail(*lane, "download failed");
    }
}

// Only while a download runs (its timer is on): a job complete at once
// keeps running with nothing to watch.
void CCachingJob::ProgressTick()
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    if (m_bChecking || !m_nCaching || !m_bTimerRunning)
        return;
    int64_t now = m_now();
    bool answered = false;
    for (Lane& lane : m_lanes) {
        if (lane.row == kNoRow || !m_nCaching)
            continue;
        WatchLane(lane, now);
        if (lane.row == kNoRow || lane.retryAt != 0)
            continue;
        if (ResourceItem* item = Row(lane.row); item && (lane.engine->Progress() || lane.engine->m_nFileSize)) {
            answered = true;
            item->downloaded = lane.engine->m_nDownloaded;
            m_view.ShowRowPercent(lane.row, std::to_string(Percent(item->downloaded, item->size)) + "%");
        }
    }
    if (!m_nCaching || !m_bTimerRunning)
        return;  // the job ended in this tick
    // Rows held back while a large file waited for its connections.
    StartNextRows();
    if (!answered)
        return;
    m_view.ShowBar(RunningPercent());
    m_tTick = now;
    ShowElapsedNow();
    m_view.ShowDiskSpace();
}

// One lane's second: its retry when due, its stall watch.
void CCachingJob::WatchLane(Lane& lane, int64_t now)
{
    if (lane.retryAt != 0) {
        if (now >= lane.retryAt)
            StartDownload(lane);
        return;  // the figures line says why it waits
    }
    // Bytes received, not only written: a slow link fills a block in many
    // seconds, and is no stall meanwhile.
    int64_t received = lane.engine->Progress();
    if (received != lane.lastSeen) {
        lane.lastSeen = received;
        lane.tLastChange = now;
        lane.retries = 0;
    } else if (lane.engine->IsFinishing() || lane.engine->WaitsForConnection()) {
        // The final sync of a large file to a slow disk, or other files
        // holding every connection: no stall.
        lane.tLastChange = now;
    } else if (now - lane.tLastChange > kStallSeconds) {
        // Stalled: stop and start again; the engine resumes what it has. A
        // download that never got a length nor a byte is a failed attempt.
        if (received != 0 || lane.engine->m_nFileSize != 0) {
            DebugLog("caching row %zu: no progress for %lld s, restarting", lane.row,
                     static_cast<long long>(now - lane.tLastChange));
            StartDownload(lane);
        } else {
            RetryOrFail(lane, "no answer, restarting");
        }
    }
}

// While a row waits to be tried again: a host that could not be reached
// is named, so the operator knows it is not the client.
void CCachingJob::ShowWhyWaiting(const Lane& lane)
{
    FailureCause cause = lane.engine->LastFailure().cause;
    ResourceItem* item = Row(lane.row);
    if (item && (cause == FailureCause::None || cause == FailureCause::Network ||
                 cause == FailureCause::HostNotFound || cause == FailureCause::Tls))
        m_view.ShowElapsed("无法连接 " + HostPortOf(item->url) + "，稍后重试");
}

bool CCachingJob::IsWaitingToRetry()
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    for (const Lane& lane : m_lanes) {
        if (lane.row != kNoRow && lane.retryAt != 0)
            return true;
    }
    return false;
}

int64_t CCachingJob::InFlight(size_t row)
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    for (const Lane& lane : m_lanes) {
        if (lane.row == row)
            return lane.engine->m_nDownloaded;
    }
    return -1;
}

void CCachingJob::ShowElapsedNow()
{
    m_view.ShowElapsed(ElapsedText(m_tTick - m_tStart));
}

// The rows in place and what the rows in flight received; a job whose
// sizes add up to nothing shows 0 while it runs, never a division by zero.
int CCachingJob::RunningPercent() const
{
    int64_t bytes = m_nFinishedBytes;
    for (const Lane& lane : m_lanes)
        bytes += lane.row != kNoRow ? lane.engine->Progress() : 0;
    return m_nTotalBytes > 0 ? Percent(bytes, m_nTotalBytes) : 0;
}
