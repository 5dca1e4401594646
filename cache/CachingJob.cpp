#include "cache/CachingJob.h"

#include <algorithm>

#include "cache/Figures.h"
#include "common/CodePage.h"
#include "common/FileSystem.h"
#include "common/Trace.h"
#include "common/UrlText.h"

namespace {

// Why a row failed, as its tooltip says it (UTF-8).
const char kUnsafeName[] = "名称不能用作缓存中的文件名";
const char kNameTooLong[] = "名称过长：文件系统每级名称最多 255 个字符";
const char kUnknownSize[] = "大小未知，缓存中也没有";
const char kNameTaken[] = "会议中另一资源使用同一文件名";

}  // namespace

CCachingJob::CCachingJob(Items& items, CCacheLayout& cache, CachingView& view, Clock now, EngineSetUp setUp)
    : m_items(items), m_cache(cache), m_view(view), m_now(std::move(now)), m_setUp(std::move(setUp))
{
    for (size_t i = 0; i < kRowsInFlight; ++i) {
        m_engines[i] = std::make_unique<CHttpDownload>();
        m_engines[i]->ShareConnections(m_pool);
        m_lanes[i].engine = m_engines[i].get();
    }
}

CCachingJob::~CCachingJob()
{
    m_nStopFlag = 1;
    m_stopEvent.SetEvent();
    if (m_thread.joinable())
        m_thread.join();
    StopLanes();
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
        m_thread.join();  // the walk and the check look at the stop
    StopLanes();
    std::lock_guard<std::mutex> guard(m_progressLock);
    ClearNotice();
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

// Every engine is asked to stop before any is waited for, so their waits
// overlap; then the connections they kept close.
void CCachingJob::StopLanes()
{
    for (Lane& lane : m_lanes)
        lane.engine->RequestStop();
    for (Lane& lane : m_lanes)
        lane.engine->Stop();
    m_pool.Close();
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
    m_paths.Clear(0);
    ClearNotice();
    if (m_bTimerRunning)
        m_view.StopProgressTimer();
    m_bTimerRunning = false;
}

// Events and ticks that arrive while this runs (left from a stopped job) are
// dropped, so the walk and the check have the rows and the cache list alone.
// A stop ends the walk and the check where they are: a new start runs both
// again.
void CCachingJob::Run()
{
    m_cache.ScanCache(&m_nStopFlag);
    std::lock_guard<std::mutex> guard(m_progressLock);
    m_bRowsFailed = false;
    if (!m_nStopFlag)
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

// Every row is judged; a row whose path another URL's row took first is
// refused, so no file is ever written for two resources. Every size found
// counts in the total as in the finished bytes, added without wrapping.
void CCachingJob::GetFileSizeFunc()
{
    m_nTotalBytes = 0;
    m_nFinishedBytes = 0;
    m_paths.Clear(m_items.size());
    for (size_t i = 0; i < m_items.size() && !m_nStopFlag; ++i) {
        ResourceItem* item = Row(i);
        std::string path;
        bool tooLong = false;
        if (!m_cache.GetCachePath(*item, path, &tooLong)) {
            FailRow(i, tooLong ? kNameTooLong : kUnsafeName);
            continue;
        }
        size_t owner = m_paths.OwnerOf(path);
        if (owner != CRowPaths::kNone && Row(owner)->url != item->url) {
            m_paths.Refuse(i);
            FailRow(i, kNameTaken);
            m_nTotalBytes = AddBytes(m_nTotalBytes, std::max<int64_t>(item->size, 0));
        } else if (item->size > 0) {
            if (m_cache.IsCached(path, item->size)) {
                m_nFinishedBytes = AddBytes(m_nFinishedBytes, item->size);
                MarkCached(i);
            } else if (item->status == STATUS_CACHED) {
                // Its file is gone since an earlier job: download it again.
                item->status = STATUS_NOT_STARTED;
                m_view.ShowRowPercent(i, "");
            }
            m_view.ShowRowStatus(i, item->status);
            m_nTotalBytes = AddBytes(m_nTotalBytes, item->size);
            m_paths.Take(i, path);
        } else {
            fsys::Info st = fsys::Stat(path);
            if (m_cache.IsCached(path, 0) && st.exists) {
                item->size = st.size;
                m_nFinishedBytes = AddBytes(m_nFinishedBytes, item->size);
                m_nTotalBytes = AddBytes(m_nTotalBytes, item->size);
                MarkCached(i);
                m_paths.Take(i, path);
            } else {
                item->size = 0;
                FailRow(i, kUnknownSize);
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
    for (Lane& lane : m_lanes) {
        lane.engine->m_hOwnerWnd = m_hOwner;
        if (m_setUp)
            m_setUp(*lane.engine);
        lane.engine->ShareConnections(m_pool);
    }
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

// A row that cannot be cached now: the job goes on without it. The rows
// that waited for it (the same URL) fail with it.
void CCachingJob::FailRow(size_t row, const std::string& why)
{
    auto fail = [&](size_t r) {
        Row(r)->status = STATUS_FAILED;
        m_view.ShowRowStatus(r, STATUS_FAILED);
        m_view.ShowRowFailure(r, why);
    };
    fail(row);
    SupportLog("caching row %zu (%s, %s) failed: %s", row, LocalToUtf8(Row(row)->name).c_str(),
               UrlWithoutQuery(Row(row)->url).c_str(), why.c_str());
    for (size_t follower : m_paths.FollowersOf(row)) {
        if (Row(follower)->status != STATUS_CACHED && !InFlightRow(follower))
            fail(follower);
    }
    m_bRowsFailed = true;
}

void CCachingJob::Finish()
{
    StopLanes();
    ClearNotice();
    m_view.StopProgressTimer();
    m_bTimerRunning = false;
    m_view.ShowBar(100);
    m_view.ShowPhase(CachingView::Phase::Complete);
}

// The end of a job with rows that failed: what is cached can be served, and
// a new start checks again from the first row and fetches what is missing.
// The bar never says 100 then, and the figures line says how many failed.
void CCachingJob::GiveUp()
{
    if (m_bTimerRunning)
        m_view.StopProgressTimer();
    m_bTimerRunning = false;
    m_nCaching = 0;
    ClearNotice();
    m_view.ShowBar(m_nTotalBytes > 0 ? std::min(Percent(m_nFinishedBytes, m_nTotalBytes), 99) : 0);
    size_t failed = 0;
    for (const auto& item : m_items)
        failed += item && item->status == STATUS_FAILED ? 1 : 0;
    m_tTick = m_now();
    m_view.ShowElapsed(ElapsedText(m_tTick - m_tStart) + "\n" + std::to_string(failed) + " 项失败");
    m_view.ShowPhase(CachingView::Phase::GivenUp);
    StopLanes();
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
        bytes = AddBytes(bytes, lane.row != kNoRow ? lane.engine->Progress() : 0);
    return m_nTotalBytes > 0 ? Percent(bytes, m_nTotalBytes) : 0;
}
