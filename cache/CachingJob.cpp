#include "cache/CachingJob.h"


#include "cache/Figures.h"
#include "common/FileSystem.h"
#include "common/Trace.h"
#include "net/UrlHost.h"

CCachingJob::CCachingJob(Items& items, CCacheLayout& cache, CHttpDownload& engine, CachingView& view,
                         Clock now)
    : m_items(items), m_cache(cache), m_engine(engine), m_view(view), m_now(std::move(now))
{
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
    m_engine.CloseConnections();
    std::lock_guard<std::mutex> guard(m_progressLock);
    m_tRetryAt = 0;
    if (m_bTimerRunning) {
        m_view.StopProgressTimer();
        m_view.ShowElapsed("");
        m_bTimerRunning = false;
    }
    // The row that was downloading says so no more, with what it has.
    if (ResourceItem* item = Row(m_nCurrentRow); item && item->status == STATUS_CACHING) {
        item->downloaded = m_engine.m_nDownloaded;
        item->status = STATUS_STOPPED;
        m_view.ShowRowPercent(m_nCurrentRow, std::to_string(Percent(item->downloaded, item->size)) + "%");
        m_view.ShowRowStatus(m_nCurrentRow, STATUS_STOPPED);
    }
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
    // The last job's download ends here: its rows are about to go.
    m_engine.CloseConnections();
    std::lock_guard<std::mutex> guard(m_progressLock);
    m_nCaching = 0;
    m_nCurrentRow = 0;
    m_tRetryAt = 0;
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
        ResourceItem* item = Row(i);
        std::string path;
        if (item->size == 0 || !PathOf(i, path))
            continue;
        if (item->status == STATUS_CACHED) {
            MarkCached(i);
            m_view.ShowBar(m_nFinishedBytes < m_nTotalBytes ? Percent(m_nFinishedBytes, m_nTotalBytes) : 99);
        } else if (!CHttpDownload::AcceptsUrl(item->url.c_str())) {
            FailRow(i);
        } else {
            StartRow(i);
            m_view.ShowElapsed("");
            m_view.StartProgressTimer();
            m_bTimerRunning = true;
            m_view.ShowBar(RunningPercent(m_engine.m_nDownloaded));
            return;
        }
    }
    if (m_bRowsFailed) {
        GiveUp();
    } else {
        m_view.ShowBar(100);
        m_tTick = m_now();
        ShowElapsedNow();
        m_view.ShowPhase(CachingView::Phase::CompleteAtOnce);
    }
}

// Starts (or starts again) the download of a row; its directory is made
// again if it was deleted meanwhile.
void CCachingJob::StartDownload(size_t row)
{
    std::string path;
    PathOf(row, path);
    CCacheLayout::MakeDirs(path.substr(0, path.rfind('/') + 1));
    m_nCurrentRow = row;
    m_tRetryAt = 0;
    m_engine.Start(Row(row)->url.c_str(), path.c_str(), 0, Row(row)->md5.c_str());
    Row(row)->status = STATUS_CACHING;
    m_view.ShowRowStatus(row, STATUS_CACHING);
    m_nLastSeen = m_engine.Progress();
    m_tLastChange = m_now();
}

// The first download of a row: its own count of failures.
void CCachingJob::StartRow(size_t row)
{
    m_nRetries = 0;
    StartDownload(row);
}

// A row that cannot be cached now: the job goes on without it.
void CCachingJob::FailRow(size_t row)
{
    Row(row)->status = STATUS_FAILED;
    m_view.ShowRowStatus(row, STATUS_FAILED);
    m_bRowsFailed = true;
}

// The next row that is missing, after the current one; when none is left
// the job ends, complete or with rows that failed.
void CCachingJob::StartNextDownload()
{
    for (size_t i = m_nCurrentRow + 1; i < m_items.size(); ++i) {
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
            StartRow(i);
            return;
        }
    }
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
    m_nCurrentRow = 0;
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
void CCachingJob::RetryOrFail(const char* reason)
{
    DebugLog("caching row %zu: %s", m_nCurrentRow.load(), reason);
    if (m_nRetries < kMaxRetries) {
        m_engine.Stop();
        m_tRetryAt = m_now() + (int64_t(1) << m_nRetries);
        ++m_nRetries;
        ShowWhyWaiting();
        return;
    }
    m_engine.Stop();
    FailRow(m_nCurrentRow);
    StartNextDownload();
}

// Events of a stopped job (still queued when it stopped) start nothing.
// The check is read under the lock: an event that arrives while the check
// ends waits for it and is then handled, never lost.
void CCachingJob::OnDownloadEvent(uint8_t kind)
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    // An event the engine's current start did not post (queued before a
    // restart or a stop) is stale; a row is cached only with its whole
    // file in place.
    if (m_bChecking || !m_nCaching || m_tRetryAt != 0 || m_engine.m_nState != kind)
        return;
    int64_t received = m_engine.m_nDownloaded;
    ResourceItem* item = Row(m_nCurrentRow);
    std::string path;
    if (!item || (kind == DOWNLOAD_FINISHED && !(PathOf(m_nCurrentRow, path) && fsys::Stat(path).regular)))
        return;
    if (kind == DOWNLOAD_FINISHED) {
        item->downloaded = received;
        MarkCached(m_nCurrentRow);
        m_nFinishedBytes += received;
        StartNextDownload();
    } else if (kind == DOWNLOAD_FAILED) {
        // Two copies that differ from each other and from the md5: another
        // try would only fetch a third.
        if (m_engine.LastFailure().cause == FailureCause::Checksum)
            m_nRetries = kMaxRetries;
        RetryOrFail("download failed");
    }
}

// Only while a download runs (its timer is on): a job complete at once
// keeps running with nothing to watch.
void CCachingJob::ProgressTick()
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    if (m_bChecking || !m_nCaching || !m_bTimerRunning)
        return;
    // Bytes received, not only written: a slow link fills a block in many
    // seconds, and is no stall meanwhile.
    int64_t received = m_engine.Progress(), length = m_engine.m_nFileSize;
    int64_t now = m_now();
    if (m_tRetryAt != 0) {
        if (now >= m_tRetryAt)
            StartDownload(m_nCurrentRow);
        return;  // the figures line says why it waits
    }
    bool answered = received != 0 || length != 0;
    if (received != m_nLastSeen) {
        m_nLastSeen = received;
        m_tLastChange = now;
        m_nRetries = 0;
    } else if (m_engine.IsFinishing()) {
        m_tLastChange = now;  // the final sync of a large file to a slow disk: no stall
    } else if (now - m_tLastChange > kStallSeconds && Row(m_nCurrentRow)) {
        // Stalled: stop and start again; the engine resumes what it has. A
        // download that never got a length nor a byte is a failed attempt.
        if (answered) {
            DebugLog("caching row %zu: no progress for %lld s, restarting", m_nCurrentRow.load(),
                     static_cast<long long>(now - m_tLastChange));
            StartDownload(m_nCurrentRow);
        } else {
            RetryOrFail("no answer, restarting");
        }
    }
    if (!answered || !m_nCaching)
        return;
    m_view.ShowBar(RunningPercent(received));
    if (ResourceItem* item = Row(m_nCurrentRow)) {
        item->downloaded = m_engine.m_nDownloaded;
        m_view.ShowRowPercent(m_nCurrentRow, std::to_string(Percent(item->downloaded, item->size)) + "%");
    }
    m_tTick = now;
    ShowElapsedNow();
    m_view.ShowDiskSpace();
}

// While a row waits to be tried again: a host that could not be reached
// is named, so the operator knows it is not the client.
void CCachingJob::ShowWhyWaiting()
{
    FailureCause cause = m_engine.LastFailure().cause;
    ResourceItem* item = Row(m_nCurrentRow);
    if (item && (cause == FailureCause::None || cause == FailureCause::Network ||
                 cause == FailureCause::HostNotFound || cause == FailureCause::Tls))
        m_view.ShowElapsed("无法连接 " + HostPortOf(item->url) + "，稍后重试");
}

bool CCachingJob::IsWaitingToRetry()
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    return m_tRetryAt != 0;
}

void CCachingJob::ShowElapsedNow()
{
    m_view.ShowElapsed(ElapsedText(m_tTick - m_tStart));
}

// A job whose sizes add up to nothing shows 0 while it runs, never a
// division by zero.
int CCachingJob::RunningPercent(int64_t downloaded) const
{
    return m_nTotalBytes > 0 ? Percent(m_nFinishedBytes + downloaded, m_nTotalBytes) : 0;
}
