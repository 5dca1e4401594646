#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

#include "cache/CachingJob.h"
#include "demo/DemoContent.h"
#include "tests/support/CachingJobFixture.h"
#include "tests/support/Eventually.h"
#include "tests/support/ParamName.h"

namespace {

using namespace std::chrono_literals;

TEST_F(CachingJobTest, AMeetingAlreadyCachedCompletesAtOnceWithoutADownload)
{
    Add("a.mp4", 1000, "video", "", 1000);
    Add("b.pdf", 2000, "doc", "m1", 2000);
    Add("c.bin", 300, "doc", "", 0);  // size unknown, taken from the file
    Place(0, 1000);
    Place(1, 2000);
    Place(2, 300);
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::CompleteAtOnce));
    for (size_t row = 0; row < 3; ++row) {
        EXPECT_EQ(m_view.percents[row], "100%");
        EXPECT_EQ(m_view.history[row].back(), STATUS_CACHED);
    }
    EXPECT_EQ(m_items[2]->size, 300);
    EXPECT_EQ(m_view.bar, 100);
    EXPECT_EQ(m_view.elapsed, "0:00:00");
    EXPECT_EQ(m_view.timerStarts, 0);
    EXPECT_EQ(h.server.RequestCount(), 0u);
    EXPECT_TRUE(m_job.IsRunning()) << "the job stays on until the operator moves on";
}

TEST_F(CachingJobTest, DownloadsEveryMissingFileByteExact)
{
    Add("empty.txt", 0, "doc", "", 0);               // unknown size, not cached: failed, never asked for
    Add("small.txt", 1000, "doc", "", 1000);
    Add("开场.mp4", 1500000, "video", "开场", 1500000);  // four segments
    Add("Pr\xC3\xA4sentation\xC2\xAE\xE2\x80\xA2\xF0\x9F\x98\x80.bin", 2600000, "\xED\x95\x9C\xEA\xB8\x80", "m1",
        2600000);  // outside code pages 936, 950 and 1252
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::GivenUp)) << "a row failed: never complete";
    EXPECT_FALSE(m_view.Reached(Phase::Complete));
    EXPECT_EQ(m_view.history[0], std::vector<uint8_t>{STATUS_FAILED});
    EXPECT_EQ(m_view.failures[0], "大小未知，缓存中也没有");
    for (size_t row = 1; row < 4; ++row) {
        EXPECT_EQ(m_view.history[row], (std::vector<uint8_t>{STATUS_NOT_STARTED, STATUS_CACHING, STATUS_CACHED}))
            << "row " << row;
        std::string expected = DownloadHarness::Expected(m_items[row]->name, m_items[row]->size);
        EXPECT_TRUE(ReadWholeFile(PathOf(row)) == expected) << "row " << row;
    }
    EXPECT_EQ(m_view.bar, 99) << "a failed row: never 100 %";
    EXPECT_NE(m_view.elapsed.find("\n1 项失败"), std::string::npos) << m_view.elapsed;
    EXPECT_FALSE(m_view.timer);
    for (const SeenRequest& r : h.server.Requests())
        EXPECT_EQ(r.target.find("empty.txt"), std::string::npos);
}

// Small rows go side by side, one connection each, never more than six of
// a host at once, and a second host has six of its own; each row keeps its
// own status and ends byte-exact.
TEST_F(CachingJobTest, SmallRowsDownloadSixOfAHostAtOnce)
{
    for (int i = 0; i < 16; ++i) {
        Add("s" + std::to_string(i) + ".bin", 300000, "doc", "", 300000, "rate=300000");
        if (i % 2)
            m_items.back()->url = OnLocalhost(m_items.back()->url);
    }
    ASSERT_TRUE(m_job.Start());
    size_t most = MostCachingAtOnce();
    ASSERT_TRUE(m_view.Reached(Phase::Complete));
    EXPECT_EQ(most, 2u * CConnectionCache::kConnectionsPerHost);
    ExpectEachCachedOnce(300000);
}

TEST_F(CachingJobTest, AFileOfAnEarlierJobThatVanishedIsDownloadedAgain)
{
    Add("a.bin", 5000, "doc", "m", 5000);
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::Complete));
    std::filesystem::remove_all(h.dir / "assets/doc");  // the file and its directory
    m_view.phases.clear();
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::Complete));
    EXPECT_TRUE(ReadWholeFile(PathOf(0)) == DownloadHarness::Expected("a.bin", 5000));
}

TEST_F(CachingJobTest, FailuresAreTriedAgainFourTimesThenTheLastRowGivesUp)
{
    Add("gone.bin", 1000, "doc", "", 1000, "status=404");
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::GivenUp));
    EXPECT_EQ(m_view.history[0].back(), STATUS_FAILED);
    EXPECT_EQ(m_view.failures[0], "HTTP 404");
    EXPECT_FALSE(m_job.IsRunning());
    EXPECT_FALSE(m_view.timer);
    // Five starts of five size queries each: the first and four more.
    EXPECT_EQ(h.server.RequestCount(), 25u);
}

// The content host is gone for a moment: the row waits (1 s, then 2, 4, 8
// on the job's clock) instead of burning its attempts at once, the notice
// names the host while another row runs on, and once the host is back the
// row is cached and the notice gone.
TEST_F(CachingJobTest, AShortOutageCostsTimeNotTheRow)
{
    RefusingPort gone;
    int port = gone.Port();
    Add("back.bin", 300000, "doc", "", 300000);
    m_items[0]->url = "http://127.0.0.1:" + std::to_string(port) + "/content/300000/back.bin";
    Add("other.bin", 3000000, "doc", "", 3000000, "rate=1000000");
    ASSERT_TRUE(m_job.Start());
    CHeadlessOwner::Message message;
    ASSERT_TRUE(h.owner.WaitMessage(message, 20000));
    m_job.OnDownloadEvent(static_cast<uint8_t>(message.wParam), message.lParam);
    ASSERT_TRUE(m_job.IsWaitingToRetry());
    std::string notice = "无法连接 127.0.0.1:" + std::to_string(port) + "，稍后重试";
    EXPECT_EQ(m_view.notice, notice);
    ASSERT_TRUE(Eventually([&] { return m_job.InFlight(1) > 0; }));
    m_job.ProgressTick();
    EXPECT_TRUE(m_job.IsWaitingToRetry()) << "tried again before its wait";
    EXPECT_EQ(m_view.notice, notice) << "overwritten while the other row runs";

    gone.Release();
    LoopbackServer back(port);
    ASSERT_EQ(back.Port(), port);
    MountDemoContent(back.Routes());
    back.Start();
    ASSERT_TRUE(RunUntil(Phase::Complete));
    EXPECT_EQ(m_items[0]->status, STATUS_CACHED);
    EXPECT_TRUE(ReadWholeFile(PathOf(0)) == DownloadHarness::Expected("back.bin", 300000));
    EXPECT_EQ(m_view.notice, "");
}

// A first resource that cannot be had, then two good ones: the bad row
// fails, the job goes on, and ends with what it could cache; once the bad
// resource is fixed, a new start fetches only it.
class BadFirstResourceTest : public CachingJobTest, public ::testing::WithParamInterface<const char*> {
protected:
    std::string BadUrl()
    {
        std::string kind = GetParam();
        if (kind == "silent")
            return m_silent.Url("/a.bin");
        if (kind == "404")
            return h.Url(1000, "bad.bin", "status=404");
        // Breaks off its answer from byte 0, and never answers a range:
        // after the first start no new byte arrives.
        if (kind == "quiet") {
            h.engine.m_morePay = [](int64_t, double, double) { return false; };
            m_quiet.Routes().set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
                if (!req.has_header("Range"))
                    return httplib::Server::HandlerResponse::Unhandled;
                std::this_thread::sleep_for(300ms);
                res.status = 503;
                return httplib::Server::HandlerResponse::Handled;
            });
            MountDemoContent(m_quiet.Routes());
            m_quiet.Start();
            return m_quiet.Url("/content/600000/bad.bin?drop=100000");
        }
        // Breaks off the first answer, then refuses every range: each new
        // start resumes from the side file and fails again (slowly enough
        // for the ticks to see the side file read back).
        if (kind == "refusesranges") {
            SetDemoLink(60, 0);
            return h.Url(600000, "bad.bin", "drop=100000&rangestatus=403");
        }
        return "/files/bad.bin";  // no scheme
    }

    // Hosts that go quiet: the job's clock runs on so the stall watch sees them.
    bool Stalls() const { return std::string(GetParam()) == "silent" || std::string(GetParam()) == "quiet"; }

    void TearDown() override { SetDemoLink(0, 0); }

    SilentListener m_silent;
    LoopbackServer m_quiet;
};

TEST_P(BadFirstResourceTest, FailsAloneAndTheJobGoesOn)
{
    Add("bad.bin", 1000, "doc", "", 1000);
    m_items[0]->url = BadUrl();
    Add("good.bin", 1000, "doc", "", 1000);
    Add("big.bin", 1500000, "video", "m", 1500000);
    ASSERT_TRUE(m_job.Start());
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!m_view.Reached(Phase::GivenUp) && std::chrono::steady_clock::now() < deadline) {
        Pump();
        if (Stalls() && m_job.InFlight(0) >= 0)
            m_now += 11;  // a silent host stalls the row: let the watchdog see it
    }
    ASSERT_TRUE(m_view.Reached(Phase::GivenUp));
    EXPECT_EQ(m_view.history[0].back(), STATUS_FAILED);
    for (size_t row = 1; row < 3; ++row) {
        EXPECT_EQ(m_view.history[row].back(), STATUS_CACHED) << "row " << row;
        EXPECT_TRUE(ReadWholeFile(PathOf(row)) == DownloadHarness::Expected(m_items[row]->name, m_items[row]->size));
    }
    EXPECT_FALSE(m_job.IsRunning());
    EXPECT_FALSE(m_view.timer);
    EXPECT_LE(m_silent.Connections(), 1 + CCachingJob::kMaxRetries);

    m_items[0]->url = h.Url(1000, "bad.bin");
    size_t before = h.server.RequestCount();
    m_view.phases.clear();
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::Complete));
    EXPECT_TRUE(ReadWholeFile(PathOf(0)) == DownloadHarness::Expected("bad.bin", 1000));
    std::vector<SeenRequest> seen = h.server.Requests();
    for (size_t i = before; i < seen.size(); ++i)
        EXPECT_NE(seen[i].target.find("bad.bin"), std::string::npos) << "only the missing file: " << seen[i].target;
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadFirstResourceTest, ::testing::Values("silent", "404", "noscheme", "quiet", "refusesranges"),
                         [](const auto& info) { return ParamName(info.param); });

TEST_F(CachingJobTest, AStalledDownloadIsRestartedElevenSecondsAfterTheLastChange)
{
    Add("slow.bin", 300000, "doc", "", 300000, "stall=100000&stall_ms=3000");
    ASSERT_TRUE(m_job.Start());
    // Wait for the first bytes, then let the job's clock run on.
    ASSERT_TRUE(Eventually([&] { return m_job.Engine(0).m_nDownloaded >= 100000; }));
    size_t before = RangeRequests();
    m_job.ProgressTick();
    m_now += 10;
    m_job.ProgressTick();
    EXPECT_EQ(RangeRequests(), before) << "10 seconds are not yet a stall";
    m_now += 1;
    m_job.ProgressTick();
    EXPECT_TRUE(Eventually([&] { return RangeRequests() > before; }));
    EXPECT_EQ(RangeRequests(), before + 1) << "restarted, resuming";
    EXPECT_EQ(h.server.Requests().back().range, "bytes=100000-299999");
    m_job.Stop();
}

// A steady 16 KB/s link fills a 256 KiB block in 16 s: the bytes received
// show progress at every tick, so it is never restarted as a stall.
TEST_F(CachingJobTest, ASlowLinkIsNoStall)
{
    Add("slow-link.bin", 600000, "doc", "", 600000, "rate=16000");
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(Eventually([&] { return m_job.Engine(0).Progress() > 0; }));
    for (int tick = 0; tick < 13; ++tick, m_now += 1) {
        std::this_thread::sleep_for(100ms);
        m_job.ProgressTick();
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(h.server.RequestCount(), 1u) << "restarted while bytes arrived";
    m_job.Stop();
}

// A row whose size query waits for a connection (other files hold all of
// its host's) is no stall, however long it waits: it is asked once, and cached.
TEST_F(CachingJobTest, WaitingForAConnectionIsNoStall)
{
    Add("waits.bin", 2000, "doc", "", 2000);
    std::vector<CURL*> held;
    for (int i = 0; i < CConnectionCache::kConnectionsPerHost; ++i)
        held.push_back(m_job.Connections().Take(m_items[0]->url));
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(Eventually([&] { return m_job.Engine(0).WaitsForConnection(); }));
    // The clock moves before each tick, so the last tick of the wait is now:
    // a tick right after the connection is given sees no stall of its own.
    for (int tick = 0; tick < 4; ++tick) {
        m_now += 11;
        m_job.ProgressTick();
    }
    EXPECT_FALSE(m_job.IsWaitingToRetry()) << "taken for a failed attempt";
    for (CURL* easy : held)
        m_job.Connections().Give(easy, true);
    ASSERT_TRUE(RunUntil(Phase::Complete));
    EXPECT_EQ(h.server.RequestCount(), 1u);
}

// A row whose two copies differ from each other and from the resource's
// md5 fails at once (a third copy proves nothing), and the job goes on.
TEST_F(CachingJobTest, ARowWhoseCopiesDisagreeWithItsMd5FailsWithoutRetries)
{
    Add("unsure.bin", 3000000, "doc", "", 3000000, "noetag=1&changeonrange=1");
    m_items[0]->md5 = std::string(32, 'a');
    Add("next.bin", 2000, "doc", "", 2000);
    ASSERT_TRUE(m_job.Start());
    bool ended = RunUntil(Phase::GivenUp);
    SetDemoContentVersion(1);
    ASSERT_TRUE(ended);
    EXPECT_EQ(m_items[0]->status, STATUS_FAILED);
    EXPECT_EQ(m_items[1]->status, STATUS_CACHED);
    size_t sizeQueries = 0;
    for (const SeenRequest& r : h.server.Requests())
        sizeQueries += r.range.empty() && r.target.find("unsure") != std::string::npos ? 1 : 0;
    EXPECT_EQ(sizeQueries, 2u);
}

// A final sync that outlasts the stall limit (a large file to a slow disk)
// is no stall: the file is fetched once and the row ends cached.
TEST_F(CachingJobTest, AFinalSyncLongerThanTheStallLimitIsNoStall)
{
    const int64_t size = 3000000;
    Add("long-sync.mp4", size, "video", "", size);
    h.HoldFinalSync();
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(h.FinalSyncEntered());
    ASSERT_TRUE(Eventually([&] { return m_job.IsDownloading(); }));
    for (int tick = 0; tick < 4; ++tick, m_now += 11)
        m_job.ProgressTick();
    h.ReleaseFinalSync();
    ASSERT_TRUE(RunUntil(Phase::Complete));
    EXPECT_EQ(RangeRequests(), 3u);
    EXPECT_EQ(h.server.RequestCount(), 4u) << "restarted while the file was synced";
    EXPECT_TRUE(ReadWholeFile(PathOf(0)) == DownloadHarness::Expected("long-sync.mp4", size));
}

TEST_F(CachingJobTest, StopAndStartAgainResumesTheSameRowWithOnlyTheMissingBytes)
{
    Add("first.bin", 2000, "doc", "", 2000);
    Add("resume.bin", 6000000, "video", "", 6000000, "rate=250000");
    ASSERT_TRUE(m_job.Start());
    // Stopped once the first row is done and the second has bytes to resume
    // (seconds before it would end, for a loaded machine's slow polls).
    ASSERT_TRUE(Eventually([&] {
        Pump();
        return m_view.Shown(0) == STATUS_CACHED && m_job.InFlight(1) >= 4 * 262144;
    })) << "first row " << m_view.Shown(0) << ", second row " << m_view.Shown(1) << " with "
        << m_job.InFlight(1) << " bytes in flight";
    m_job.Stop();
    EXPECT_EQ(m_view.phases.back(), Phase::Stopped);
    EXPECT_TRUE(FileExists(PathOf(1) + ".tmp!"));
    EXPECT_TRUE(FileExists(PathOf(1) + ".info"));

    size_t before = h.server.RequestCount();
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::Complete));
    std::vector<SeenRequest> seen = h.server.Requests();
    for (size_t i = before; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].target.find("first.bin"), std::string::npos) << "the done row is not fetched again";
        EXPECT_NE(seen[i].range.rfind("bytes=0-", 0), 0u) << "no segment starts over: " << seen[i].range;
    }
    EXPECT_TRUE(ReadWholeFile(PathOf(1)) == DownloadHarness::Expected("resume.bin", 6000000));
}

// A row failed, the operator stopped while a later row downloaded and
// started again: the stopped row says so, the failed row is tried again,
// and the job never ends complete while it stays failed.
TEST_F(CachingJobTest, AStopAndStartAfterAFailedRowTriesItAgainAndNeverEndsComplete)
{
    Add("gone.bin", 1000, "doc", "", 1000, "status=404");
    Add("slow.bin", 900000, "doc", "", 900000, "rate=100000");  // one connection, beside the failing row
    ASSERT_TRUE(m_job.Start());
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!(m_view.Shown(0) == STATUS_FAILED && m_job.InFlight(1) > 0) &&
           std::chrono::steady_clock::now() < deadline)
        Pump();
    ASSERT_EQ(m_items[0]->status, STATUS_FAILED);
    m_job.Stop();
    EXPECT_EQ(m_items[1]->status, STATUS_STOPPED);
    EXPECT_EQ(m_view.history[1].back(), STATUS_STOPPED);
    EXPECT_NE(m_view.percents[1], "");
    size_t before = h.server.RequestCount();
    m_view.phases.clear();
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::GivenUp));
    EXPECT_FALSE(m_view.Reached(Phase::Complete));
    EXPECT_EQ(m_items[1]->status, STATUS_CACHED);
    std::vector<SeenRequest> seen = h.server.Requests();
    EXPECT_TRUE(std::any_of(seen.begin() + before, seen.end(), [](const SeenRequest& r) {
        return r.target.find("gone.bin") != std::string::npos;
    })) << "the failed row is tried again";
}

// An event left from an earlier start (queued before a restart, a stop or
// a new meeting) never marks the row downloading now as cached.
TEST_F(CachingJobTest, AStaleFinishedEventNeverMarksARowCached)
{
    Add("slow.bin", 3000000, "doc", "", 3000000, "rate=500000");
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(Eventually([&] {
        Pump();
        return m_job.Engine(0).m_nDownloaded > 0;
    }));
    m_job.OnDownloadEvent(DOWNLOAD_FINISHED, reinterpret_cast<LPARAM>(&m_job.Engine(0)));
    EXPECT_EQ(m_items[0]->status, STATUS_CACHING);
    EXPECT_FALSE(m_view.Reached(Phase::Complete));
    m_job.Stop();
}

// A new resource list (another meeting) ends the last job's download.
TEST_F(CachingJobTest, ResetStopsTheDownload)
{
    Add("slow.bin", 3000000, "doc", "", 3000000, "rate=500000");
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(Eventually([&] {
        Pump();
        return m_job.Engine(0).m_nDownloaded > 0;
    }));
    m_job.Reset();
    int64_t downloaded = m_job.Engine(0).m_nDownloaded;
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(m_job.Engine(0).m_nDownloaded, downloaded) << "the old download runs on";
}

TEST_F(CachingJobTest, AResourceWithUnsafeNamesIsMarkedFailedAndNeverFetched)
{
    Add("x", 1000, "../..", "", 1000);
    Add("ok.bin", 1000, "doc", "", 1000);
    Add("y", 1000, "doc", std::string(256, 'm'), 1000);  // longer than a file system's level
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::GivenUp));
    EXPECT_FALSE(m_view.Reached(Phase::Complete));
    EXPECT_EQ(m_view.history[0], std::vector<uint8_t>{STATUS_FAILED});
    EXPECT_EQ(m_view.failures[0], "名称不能用作缓存中的文件名");
    EXPECT_EQ(m_view.history[2], std::vector<uint8_t>{STATUS_FAILED});
    EXPECT_EQ(m_view.failures[2], "名称过长：文件系统每级名称最多 255 个字符");
    for (const SeenRequest& r : h.server.Requests())
        EXPECT_TRUE(r.target.find("/x") == std::string::npos && r.target.find("/y") == std::string::npos) << r.target;
}

// One resource listed twice and another whose URL ends in the same name:
// the three would share one file. The first row owns it, the second is
// cached with it, the third fails saying why; the file is the first's,
// fetched once.
TEST_F(CachingJobTest, RowsThatNameOneFileNeverShareIt)
{
    Add("intro.mp4", 300000, "video", "m", 300000);
    Add("intro.mp4", 300000, "video", "m", 300000);
    Add("intro.mp4", 400000, "video", "m", 400000);
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(RunUntil(Phase::GivenUp, 20));
    EXPECT_EQ(m_view.Shown(0), STATUS_CACHED);
    EXPECT_EQ(m_view.Shown(1), STATUS_CACHED);
    EXPECT_EQ(m_view.Shown(2), STATUS_FAILED);
    EXPECT_EQ(m_view.failures[2], "会议中另一资源使用同一文件名");
    EXPECT_TRUE(ReadWholeFile(PathOf(0)) == DownloadHarness::Expected("intro.mp4", 300000));
    size_t sizeQueries = 0;
    for (const SeenRequest& r : h.server.Requests()) {
        EXPECT_EQ(r.target.find("/400000/"), std::string::npos) << r.target;
        sizeQueries += r.range.empty() ? 1 : 0;
    }
    EXPECT_EQ(sizeQueries, 1u);
}

// The file a finished download placed is gone when its event is handled
// (deleted meanwhile): a failed attempt, not a row left "缓存中".
TEST_F(CachingJobTest, AFinishedFileThatVanishedIsFetchedAgain)
{
    Add("gone-soon.bin", 5000, "doc", "", 5000);
    ASSERT_TRUE(m_job.Start());
    CHeadlessOwner::Message message;
    ASSERT_TRUE(h.owner.WaitMessage(message, 20000));
    ASSERT_EQ(message.wParam, DOWNLOAD_FINISHED);
    std::filesystem::remove(PathOf(0));
    m_job.OnDownloadEvent(static_cast<uint8_t>(message.wParam), message.lParam);
    ASSERT_TRUE(RunUntil(Phase::Complete, 20));
    EXPECT_TRUE(ReadWholeFile(PathOf(0)) == DownloadHarness::Expected("gone-soon.bin", 5000));
}

// While a row is missing the bar is below 100: a row of unknown size found
// cached counts in the total as in the bytes done, and sizes at the
// largest number add up to it instead of wrapping.
class BarWhileRowsAreMissingTest : public CachingJobTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BarWhileRowsAreMissingTest, StaysBelowFull)
{
    std::string kind = GetParam();
    if (kind == "unknownsizecached") {
        Add("found.bin", 2000000, "doc", "", 0);
        Place(0, 2000000);
    } else {
        Add("huge1.bin", 1000000, "doc", "", std::numeric_limits<int64_t>::max(), "rate=200000");
        Add("huge2.bin", 1000000, "doc", "", std::numeric_limits<int64_t>::max(), "rate=200000");
        Add("small.bin", 1000, "doc", "", 1000);
        Place(2, 1000);
    }
    Add("slow.bin", 1000000, "doc", "", 1000000, "rate=200000");
    size_t last = m_items.size() - 1;
    ASSERT_TRUE(m_job.Start());
    ASSERT_TRUE(Eventually([&] {
        Pump();
        return m_job.InFlight(last) > 0;
    }));
    m_job.ProgressTick();
    EXPECT_GE(m_view.bar, 0);
    EXPECT_LT(m_view.bar, 100);
    m_job.Stop();
}

INSTANTIATE_TEST_SUITE_P(Kinds, BarWhileRowsAreMissingTest, ::testing::Values("unknownsizecached", "sizesatthelimit"),
                         [](const auto& info) { return ParamName(info.param); });

// Stopping never waits for more than the slowest engine, nor for the walk
// of a large cache: every engine is asked to stop before any is waited
// for, and the walk ends at the stop.
TEST_F(CachingJobTest, AStopWaitsNeitherForEachEngineInTurnNorForTheWalk)
{
    for (int i = 0; i < 4; ++i)
        Add("stalled" + std::to_string(i) + ".bin", 300000, "doc", "", 300000, "stall=1000&stall_ms=6000");
    ASSERT_TRUE(m_job.Start());
    // Every row has its first bytes and waits on a silent connection.
    ASSERT_TRUE(Eventually([&] {
        Pump();
        for (size_t lane = 0; lane < m_items.size(); ++lane) {
            if (m_job.Engine(lane).Progress() < 1000)
                return false;
        }
        return true;
    }));
    auto began = std::chrono::steady_clock::now();
    m_job.Stop();
    // Waiting for the stalls would take some 5 s, for each engine's own look
    // at its stop in turn some 4 s.
    EXPECT_LT(std::chrono::steady_clock::now() - began, 3s);

    const int files = 5000;
    std::filesystem::create_directories(h.dir / "assets/many");
    for (int i = 0; i < files; ++i)
        std::ofstream(h.dir / ("assets/many/" + std::to_string(i)));
    ASSERT_TRUE(m_job.Start());
    m_job.Stop();
    EXPECT_LT(m_cache.CachedFiles().size(), size_t(files)) << "the walk went on past the stop";
}

}  // namespace
