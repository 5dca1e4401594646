// CCachingJob's rows in flight: which row each lane takes next, the
// engines' events, the ticks and what the attempt rule decides for them.
// All under the progress lock: on the UI thread, and StartNextRows also on
// the caching thread for the first downloads.
#include "cache/CachingJob.h"

#include <algorithm>

#include "cache/Figures.h"
#include "common/FileSystem.h"
#include "common/Trace.h"
#include "net/UrlHost.h"

namespace {

// Why a row failed, as its tooltip says it (UTF-8), besides the engine's
// own failure text.
const char kNotAUrl[] = "不是可下载的网址";
const char kNoNewBytes[] = "长时间没有收到数据";
const char kFileVanished[] = "下载完成的文件不见了";
const char kDownloadFailed[] = "下载失败";

}  // namespace

// Starts (or starts again) the download of a lane's row; its directory is
// made again if it was deleted meanwhile.
void CCachingJob::StartDownload(Lane& lane)
{
    std::string path;
    PathOf(lane.row, path);
    CCacheLayout::MakeDirs(path.substr(0, path.rfind('/') + 1));
    ResourceItem* item = Row(lane.row);
    lane.engine->Start(item->url.c_str(), path.c_str(), 0, item->md5.c_str(), item->size);
    item->status = STATUS_CACHING;
    m_view.ShowRowStatus(lane.row, STATUS_CACHING);
}

// The rows of the same URL that waited for `row` are cached with it.
void CCachingJob::CacheFollowers(size_t row)
{
    for (size_t follower : m_paths.FollowersOf(row)) {
        if (Row(follower)->status != STATUS_CACHED && !InFlightRow(follower)) {
            m_nFinishedBytes = AddBytes(m_nFinishedBytes, Row(follower)->size);
            MarkCached(follower);
        }
    }
}

bool CCachingJob::InFlightRow(size_t row) const
{
    for (const Lane& lane : m_lanes) {
        if (lane.row == row)
            return true;
    }
    return false;
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
    StartRowsInOrder();
    // While rows wait, the connections carry them side by side; the last
    // rows may spread over the connections left.
    bool inFlight = false;
    for (Lane& lane : m_lanes) {
        lane.engine->AllowMoreConnections(m_nNextRow >= m_items.size());
        inFlight |= lane.row != kNoRow;
    }
    return inFlight;
}

// Until the lanes are taken, or the next row's host has its files in
// flight: it waits for one of them to end, and the rows behind it too.
void CCachingJob::StartRowsInOrder()
{
    for (Lane& lane : m_lanes) {
        for (; lane.row == kNoRow && m_nNextRow < m_items.size(); ++m_nNextRow) {
            if (!HostHasRoom(m_nNextRow))
                return;
            TakeRow(lane, m_nNextRow);
        }
    }
}

bool CCachingJob::HostHasRoom(size_t row) const
{
    const std::string host = CConnectionCache::HostKey(Row(row)->url);
    size_t inFlight = std::count_if(std::begin(m_lanes), std::end(m_lanes), [&](const Lane& lane) {
        return lane.row != kNoRow && CConnectionCache::HostKey(Row(lane.row)->url) == host;
    });
    return inFlight < m_pool.FilesAtOnce(Row(row)->url);
}

// Row `i` is passed over, settled at once, or started on the lane; true
// when it went to the lane. A row that follows another in flight waits
// for it: its file comes with that row's.
bool CCachingJob::TakeRow(Lane& lane, size_t i)
{
    ResourceItem* item = Row(i);
    std::string path;
    if (item->size == 0 || item->status == STATUS_CACHED || m_paths.IsRefused(i) || !PathOf(i, path))
        return false;
    size_t leader = m_paths.LeaderOf(i);
    if (leader != CRowPaths::kNone && InFlightRow(leader))
        return false;
    if (m_cache.IsCached(path, item->size) ||
        (leader != CRowPaths::kNone && Row(leader)->status == STATUS_CACHED)) {
        m_nFinishedBytes = AddBytes(m_nFinishedBytes, item->size);
        MarkCached(i);
        return false;
    }
    if (!CHttpDownload::AcceptsUrl(item->url.c_str())) {
        FailRow(i, kNotAUrl);
        return false;
    }
    lane.row = i;
    lane.rule = CAttemptRule(m_now());
    StartDownload(lane);
    return true;
}

// A lane's row ended (cached or failed for good): the lane takes the next
// row; when none is left in flight the job ends, complete or with rows that
// failed.
void CCachingJob::EndRow(Lane& lane)
{
    lane.row = kNoRow;
    if (StartNextRows())
        return;
    if (m_bRowsFailed)
        GiveUp();
    else
        Finish();
}

// What the attempt rule decided for a lane: start again now, wait (the
// figures line may say why), or fail the row and go on.
void CCachingJob::Act(Lane& lane, CAttemptRule::Action action, const std::string& why)
{
    switch (action) {
    case CAttemptRule::Action::None:
        return;
    case CAttemptRule::Action::Restart:
        DebugLog("caching row %zu: starting again", lane.row);
        StartDownload(lane);
        return;
    case CAttemptRule::Action::Wait:
        SupportLog("caching row %zu: %s, trying again in %lld s", lane.row, why.c_str(),
                   static_cast<long long>(lane.rule.RetryAt() - m_now()));
        lane.engine->Stop();
        ShowWhyWaiting(lane);
        return;
    case CAttemptRule::Action::GiveUp:
        lane.engine->Stop();
        FailRow(lane.row, why);
        EndRow(lane);
        return;
    }
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
    // restart or a stop) is stale.
    if (m_bChecking || !m_nCaching || !lane || lane->rule.IsWaiting() || lane->engine->m_nState != kind)
        return;
    ResourceItem* item = Row(lane->row);
    if (!item)
        return;
    int64_t received = lane->engine->Progress();
    if (kind == DOWNLOAD_FINISHED) {
        // A row is cached only with its whole file in place; a file gone
        // meanwhile is a failed attempt.
        std::string path;
        if (!(PathOf(lane->row, path) && fsys::Stat(path).regular)) {
            Act(*lane, lane->rule.OnFailure(m_now(), received), kFileVanished);
            return;
        }
        item->downloaded = lane->engine->m_nDownloaded;
        MarkCached(lane->row);
        m_nFinishedBytes = AddBytes(m_nFinishedBytes, item->downloaded);
        CacheFollowers(lane->row);
        EndRow(*lane);
    } else if (kind == DOWNLOAD_FAILED) {
        // Two copies that differ from each other and from the md5: another
        // try would only fetch a third.
        DownloadFailure failure = lane->engine->LastFailure();
        Act(*lane, lane->rule.OnFailure(m_now(), received, failure.cause == FailureCause::Checksum),
            failure.text.empty() ? kDownloadFailed : failure.text);
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
        // Bytes received, not only written: a slow link fills a block in
        // many seconds, and is no stall meanwhile. The final sync of a large
        // file and a wait for a connection other files hold are none either.
        CHttpDownload& engine = *lane.engine;
        bool offTheLink = engine.IsFinishing() || engine.WaitsForConnection();
        Act(lane, lane.rule.OnTick(now, engine.Progress(), offTheLink), kNoNewBytes);
        if (lane.row == kNoRow || lane.rule.IsWaiting())
            continue;
        ResourceItem* item = Row(lane.row);
        if (item && (engine.Progress() || engine.m_nFileSize)) {
            answered = true;
            item->downloaded = engine.m_nDownloaded;
            m_view.ShowRowPercent(lane.row, std::to_string(Percent(item->downloaded, item->size)) + "%");
            if (!m_strNoticeHost.empty() && HostPortOf(item->url) == m_strNoticeHost)
                ClearNotice();  // that host answers again
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

// While a row waits to be tried again: a host that could not be reached
// is named, so the operator knows it is not the client. The notice stays
// until that host answers (or the job ends), whatever other rows do.
void CCachingJob::ShowWhyWaiting(const Lane& lane)
{
    FailureCause cause = lane.engine->LastFailure().cause;
    ResourceItem* item = Row(lane.row);
    if (item && (cause == FailureCause::None || cause == FailureCause::Network ||
                 cause == FailureCause::HostNotFound || cause == FailureCause::Tls)) {
        m_strNoticeHost = HostPortOf(item->url);
        m_view.ShowNotice("无法连接 " + m_strNoticeHost + "，稍后重试");
    }
}

void CCachingJob::ClearNotice()
{
    if (m_strNoticeHost.empty())
        return;
    m_strNoticeHost.clear();
    m_view.ShowNotice("");
}

bool CCachingJob::IsWaitingToRetry()
{
    std::lock_guard<std::mutex> guard(m_progressLock);
    for (const Lane& lane : m_lanes) {
        if (lane.row != kNoRow && lane.rule.IsWaiting())
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
