#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <regex>
#include <set>
#include <utility>
#include <sstream>
#include <thread>

#include "common/Md5.h"
#include "demo/DemoContent.h"
#include "net/DownloadFailure.h"
#include "net/HttpRequest.h"
#include "net/PartFile.h"
#include "net/SideFile.h"
#include "net/Validators.h"
#include "tests/support/Environment.h"
#include "tests/support/HttpDownloadFixture.h"
#include "tests/support/ParamName.h"

namespace {

bool Never(int64_t, double, double)
{
    return false;
}

TEST_P(FaultTest, EndsByteExactAtTheDestination)
{
    const int64_t size = 3000000;
    auto [fault, alone, route] = GetParam();
    if (alone)
        h.engine.m_morePay = Never;
    std::string dest = h.dir / "file.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "f.bin", fault), dest));
    ExpectComplete(dest, "f.bin", size);
}

// (Over HTTP/2 in HttpDownloadPosixTest.cpp.)
INSTANTIATE_TEST_SUITE_P(Faults, FaultTest,
                         ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::Bool(), ::testing::Values(Route::Direct)),
                         FaultName);

// The same faults one after another on one engine: its kept connections
// (some broken off by the faults before) never spoil a file.
TEST_P(EveryFaultTest, KeptConnectionsStayByteExactThroughEveryFault)
{
    const int64_t size = 3000000;
    for (size_t i = 0; i < std::size(kFaults); ++i) {
        std::string name = "kept" + std::to_string(i) + ".bin", dest = h.dir / name;
        ASSERT_TRUE(h.DownloadToEnd(h.Url(size, name, kFaults[i]), dest)) << kFaults[i];
        ExpectComplete(dest, name, size);
    }
}

// Four files at a time through one pool (the caching job's way): every
// fault still ends byte-exact, with segments and without.
TEST_P(EveryFaultTest, SeveralFilesInFlightShareThePoolByteExactThroughEveryFault)
{
    const int64_t size = 2000000;
    std::vector<std::unique_ptr<CHttpDownload>> engines;
    for (int i = 0; i < 4; ++i) {
        engines.push_back(std::make_unique<CHttpDownload>());
        engines[i]->SetUpLike(h.engine);
        engines[i]->m_morePay = i % 2 ? Never : DownloadHarness::SegmentsAtOnce;
    }
    for (size_t first = 0; first < std::size(kFaults); first += engines.size()) {
        std::vector<DownloadHarness::Fetch> fetches;
        for (size_t i = first; i < std::min(std::size(kFaults), first + engines.size()); ++i) {
            std::string name = "many" + std::to_string(i) + ".bin";
            fetches.push_back({engines[i - first].get(), h.Url(size, name, kFaults[i]), h.dir / name});
        }
        ASSERT_TRUE(h.DownloadAllToEnd(fetches)) << kFaults[first];
        for (const auto& f : fetches)
            ExpectComplete(f.dest, f.dest.substr(f.dest.rfind('/') + 1), size);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, EveryFaultTest, ::testing::Values(Route::Direct), EveryFaultName);

// A wide-area link for one test: every answer waits `rttMs`.
struct WideAreaLink {
    explicit WideAreaLink(int rttMs) { SetDemoLink(rttMs, 0); }
    ~WideAreaLink() { SetDemoLink(0, 0); }
};

// On a fast link more connections do not pay: a large file comes in its
// size query's answer alone, and the next one over the same connection.
// (The round trip is long enough that the loopback's rate, even under a
// sanitizer and a loaded machine, is fast against it.)
TEST_F(HttpDownloadTest, OnAFastLinkALargeFileTakesOneRequestOnAKeptConnection)
{
    WideAreaLink link(400);
    h.engine.m_morePay = nullptr;
    for (const char* name : {"fast1.bin", "fast2.bin"}) {
        std::string dest = h.dir / name;
        ASSERT_TRUE(h.DownloadToEnd(h.Url(1500000, name), dest, 0));
        ExpectComplete(dest, name, 1500000);
    }
    std::vector<SeenRequest> seen = h.server.Requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].range + seen[1].range, "");
    EXPECT_EQ(seen[0].peerPort, seen[1].peerPort) << "the first answer's connection was lost";
}

// On a slow link they do: the other segments get theirs while the first
// answer runs.
TEST_F(HttpDownloadTest, OnASlowLinkTheOtherSegmentsGetConnectionsOfTheirOwn)
{
    WideAreaLink link(20);
    h.engine.m_morePay = nullptr;
    std::string dest = h.dir / "slow.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(2000000, "slow.bin", "rate=1000000"), dest, 0));
    ExpectComplete(dest, "slow.bin", 2000000);
    std::set<std::string> ranges;
    for (const SeenRequest& r : h.server.Requests())
        ranges.insert(r.range);
    EXPECT_EQ(ranges, (std::set<std::string>{"", "bytes=500736-1001471", "bytes=1001472-1502207",
                                             "bytes=1502208-1999999"}));
}

TEST_F(HttpDownloadTest, AnEmptyFileIsFinishedAndMovedAtOnce)
{
    std::string dest = h.dir / "empty.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(0, "empty.bin"), dest, 0));
    EXPECT_TRUE(FileExists(dest));
    ExpectComplete(dest, "empty.bin", 0);
}

TEST_F(HttpDownloadTest, FinishedIsPostedOnceAfterTheDestinationExists)
{
    std::string dest = h.dir / "once.bin";
    h.engine.Start(h.Url(2000000, "once.bin").c_str(), dest.c_str());
    ASSERT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    EXPECT_TRUE(FileExists(dest));
    EXPECT_EQ(h.NextState(1500), 0) << "a second message for one start";
}

TEST_F(HttpDownloadTest, AFileFoundCompleteIsMovedAndReportedOnce)
{
    const int64_t size = 600000;
    std::string dest = h.dir / "ready.bin";
    WriteFile(dest + ".tmp!", DownloadHarness::Expected("ready.bin", size));
    ASSERT_TRUE(SaveSideFile(dest + ".info", {{0, size, size - 1, SEGMENT_IDLE}}, IdentityOf(h.Url(size, "ready.bin"))));
    h.engine.Start(h.Url(size, "ready.bin").c_str(), dest.c_str());
    ASSERT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    ExpectComplete(dest, "ready.bin", size);
    EXPECT_EQ(h.NextState(1500), 0);
    for (const SeenRequest& r : h.server.Requests())
        EXPECT_EQ(r.range, "") << "only the size query was needed";
}

TEST_F(HttpDownloadTest, StopLeavesAResumablePairAndResumeAsksOnlyForMissingBytes)
{
    const int64_t size = 8000000;
    std::string dest = h.dir / "resume.bin";
    StopMidway(h.Url(size, "resume.bin", "rate=1500000"), dest);
    int64_t downloaded = h.engine.m_nDownloaded;
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(h.engine.m_nDownloaded, downloaded) << "nothing runs after Stop returned";

    std::string raw = ReadWholeFile(dest + ".info");
    ASSERT_EQ(raw.size(), 128u);
    std::vector<SegmentInfo> saved;
    ASSERT_TRUE(LoadSideFile(dest + ".info", size, IdentityOf(h.Url(size, "resume.bin", "rate=1500000")), saved));
    int64_t claimed = 0;
    for (size_t k = 0; k < saved.size(); ++k) {
        EXPECT_EQ(raw[k * 32 + 24], 1) << "a segment handed to a worker is stored as 1";
        EXPECT_EQ(saved[k].state, SEGMENT_IDLE) << "and loaded as 0";
        claimed += saved[k].done;
    }
    EXPECT_EQ(claimed, downloaded);
    EXPECT_EQ(ReadWholeFile(dest + ".tmp!").size(), static_cast<size_t>(size));

    size_t before = h.server.RequestCount();
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "resume.bin", "rate=1500000"), dest, 0));
    std::set<std::string> asked;
    std::vector<SeenRequest> seen = h.server.Requests();
    for (size_t i = before; i < seen.size(); ++i)
        if (!seen[i].range.empty())
            asked.insert(seen[i].range);
    std::set<std::string> expected;
    for (const SegmentInfo& s : saved)
        if (!s.Finished())
            expected.insert("bytes=" + std::to_string(s.start + s.done) + "-" + std::to_string(s.end));
    EXPECT_EQ(asked, expected);
    ExpectComplete(dest, "resume.bin", size);
}

TEST_F(HttpDownloadTest, ASegmentWithOneByteLeftStillGetsAWorker)
{
    const int64_t size = 500000;
    std::string dest = h.dir / "last.bin";
    std::string bytes = DownloadHarness::Expected("last.bin", size);
    bytes.back() = '\0';
    WriteFile(dest + ".tmp!", bytes);
    ASSERT_TRUE(SaveSideFile(dest + ".info", {{0, size - 1, size - 1, SEGMENT_IDLE}}, IdentityOf(h.Url(size, "last.bin"))));
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "last.bin"), dest, 0));
    ASSERT_FALSE(h.server.Requests().empty());
    EXPECT_EQ(h.server.Requests().back().range, "bytes=499999-499999");
    ExpectComplete(dest, "last.bin", size);
}

TEST_F(HttpDownloadTest, ASideFileOfAnotherVersionIsNotTrusted)
{
    const int64_t size = 2000000;
    std::string dest = h.dir / "changed.bin";
    WriteFile(dest + ".tmp!", std::string(size, 'x'));
    // Claims every byte of a shorter, older version.
    ASSERT_TRUE(SaveSideFile(dest + ".info", {{0, 1500000, 1499999, SEGMENT_IDLE}}, IdentityOf(h.Url(size, "changed.bin"))));
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "changed.bin"), dest, 0));
    ExpectComplete(dest, "changed.bin", size);
}

TEST_F(HttpDownloadTest, ALargerTemporaryFileIsKeptAndCutToSizeAtTheEnd)
{
    const int64_t size = 700000;
    std::string dest = h.dir / "larger.bin";
    WriteFile(dest + ".tmp!", std::string(size + 5000, 'x'));
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "larger.bin"), dest, 0));
    ExpectComplete(dest, "larger.bin", size);
}

TEST_F(HttpDownloadTest, AFailedSizeQueryIsTriedFiveTimesThenRepeatedAfterAWait)
{
    std::string dest = h.dir / "missing.bin";
    h.engine.m_nFirstRetryWaitMs = 1000;  // the counts are read within the waits, even on a busy machine
    h.engine.Start(h.Url(1000, "missing.bin", "status=404").c_str(), dest.c_str());
    ASSERT_EQ(h.NextState(), DOWNLOAD_FAILED);
    auto first = std::chrono::steady_clock::now();
    EXPECT_EQ(h.server.RequestCount(), 5u);
    ASSERT_EQ(h.NextState(), DOWNLOAD_FAILED);
    // Measured between two deliveries of a posted message: some slack.
    EXPECT_GE(std::chrono::steady_clock::now() - first, 700ms) << "no pause between rounds";
    EXPECT_EQ(h.server.RequestCount(), 10u);
    h.engine.Stop();
    EXPECT_FALSE(FileExists(dest + ".tmp!"));
}

TEST_F(HttpDownloadTest, ASizeQueryThatIsNeverAnsweredFailsAfterTheTransferLimit)
{
    SilentListener silent;
    h.engine.m_nStallSeconds = 1;  // stands in for the 60 s limit
    h.engine.m_nFirstRetryWaitMs = 600000;  // no second round before the count is read
    std::string dest = h.dir / "silent.bin";
    h.engine.Start(silent.Url("/a.bin").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    EXPECT_EQ(silent.Connections(), CHttpDownload::kSizeQueryAttempts);
    h.engine.Stop();
}

// Content URLs as resource lists carry them: a space and raw UTF-8 in the path.
TEST_F(HttpDownloadTest, AUrlWithASpaceAndUtf8IsSentEncoded)
{
    std::string dest = h.dir / "talk.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(300000, "主题 演讲.bin"), dest, 0));
    ExpectComplete(dest, "主题 演讲.bin", 300000);
    EXPECT_EQ(h.server.Requests()[0].target, "/content/300000/%E4%B8%BB%E9%A2%98%20%E6%BC%94%E8%AE%B2.bin");
}

// With QUORVEL_DEBUG set, each request and each download start, failure and
// completion leaves one timestamped line naming the URL (a content URL
// without its query, which may be a signature).
TEST_F(HttpDownloadTest, DiagnosticsGiveATimestampedLinePerRequestAndDownload)
{
    SetEnv("QUORVEL_DEBUG", "1");
    ::testing::internal::CaptureStderr();
    CHttpRequest request;
    char answer[64];
    request.Get(h.Url(10, "r.txt", "status=404").c_str(), answer, sizeof answer);
    std::string dest = h.dir / "d.bin";
    h.DownloadToEnd(h.Url(1000, "d.bin"), dest, 0);
    h.DownloadToEnd(h.Url(2000000, "w.bin"), h.dir / "w.bin", 0);  // with workers
    h.engine.Start(h.Url(1000, "x.bin", "status=500").c_str(), (h.dir / "x.bin").c_str());
    h.NextState();
    h.engine.Stop();
    std::string log = ::testing::internal::GetCapturedStderr();
    UnsetEnv("QUORVEL_DEBUG");
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d{4} )";
    for (const char* line : {
             R"(request http://\S+/content/10/r\.txt\?status=404 status 404 bytes 0 ms \d+)",
             R"(download start http://\S+/content/1000/d\.bin -> \S+/d\.bin)",
             R"(download done http://\S+/d\.bin -> \S+/d\.bin \(complete\), 1000 of 1000 bytes)",
             R"(download failed http://\S+/x\.bin -> \S+/x\.bin \(HTTP 500\), 0 of 0 bytes)"})
        EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)" + stamp + line + "\n"))) << line << "\n" << log;
    // Every line, the workers' own texts included, has its stamp and ends
    // in a plain newline.
    EXPECT_EQ(log.find('\r'), std::string::npos);
    std::istringstream lines(log);
    for (std::string l; std::getline(lines, l);)
        EXPECT_TRUE(std::regex_search(l, std::regex("^" + stamp))) << l;
    EXPECT_NE(log.find("URL请求成功开始接收数据"), std::string::npos) << "the workers' texts are there too";
    EXPECT_EQ(log.find("status=500"), std::string::npos) << "a content URL's query";
}

// Signed CDN URLs run far past 259 characters, and S3-style ones sign the
// authority with its port: the Host header is the URL's host and port.
TEST_F(HttpDownloadTest, ALongUrlKeepsItsHostAndPort)
{
    std::string dest = h.dir / "long.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(3000000, "long.bin", "signature=" + std::string(1500, 's')), dest, 0));
    ExpectComplete(dest, "long.bin", 3000000);
    EXPECT_EQ(h.server.RequestCount(), 4u);
    for (const SeenRequest& r : h.server.Requests())
        EXPECT_EQ(r.host, h.server.HostPort());
}

TEST_F(HttpDownloadTest, ARedirectLoopFailsEachSizeQueryAfterTenHops)
{
    LoopbackServer loop;
    loop.Routes().Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
    loop.Start();
    h.engine.m_nFirstRetryWaitMs = 600000;  // no second round before the count is read
    h.engine.Start(loop.Url("/loop").c_str(), (h.dir / "loop.bin").c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    h.engine.Stop();
    EXPECT_EQ(loop.RequestCount(), size_t(CHttpDownload::kSizeQueryAttempts * 11));
}

TEST_F(HttpDownloadTest, AContentLengthNearTwoToThe63IsRefused)
{
    h.engine.m_freeSpace = [](const std::string&) { return std::numeric_limits<int64_t>::max(); };
    std::string dest = h.dir / "huge.bin";
    h.engine.Start(h.Url(std::numeric_limits<int64_t>::max() - 10, "huge.bin").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    h.engine.Stop();
    EXPECT_FALSE(FileExists(dest + ".tmp!"));
}

// A server that ignores Range makes the engine replan the file as one
// segment; the workers of the first plan must be gone, so the watchdog (at
// one second here) never restarts them on segments that no longer exist.
TEST_F(HttpDownloadTest, TheWatchdogOnlyTouchesWorkersOfTheCurrentPlan)
{
    h.engine.m_nWorkerIdleSeconds = 1;
    const int64_t size = 3000000;
    std::string dest = h.dir / "replanned.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "replanned.bin", "norange=1&rate=1000000"), dest, 0));
    ExpectComplete(dest, "replanned.bin", size);
    size_t notFromZero = 0;
    for (const SeenRequest& r : h.server.Requests())
        notFromZero += !r.range.empty() && r.range.rfind("bytes=0-", 0) != 0 ? 1 : 0;
    EXPECT_EQ(notFromZero, 3u) << "the first plan's three other segments, asked once";
}

// The side file counts only synced bytes, so it is brought up to date in
// batches (every kSyncBytes or second), not after every 256 KiB block; and
// it never claims more than was written.
TEST_F(HttpDownloadTest, TheSideFileIsUpdatedInSyncedBatches)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "batched.bin", url = h.Url(size, "batched.bin", "rate=2000000");
    h.engine.Start(url.c_str(), dest.c_str());
    std::set<int64_t> claims;
    std::vector<SegmentInfo> saved;
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!FileExists(dest) && std::chrono::steady_clock::now() < deadline) {
        if (LoadSideFile(dest + ".info", size, IdentityOf(url), saved)) {
            int64_t claimed = 0;
            for (const SegmentInfo& s : saved)
                claimed += s.done;
            EXPECT_LE(claimed, h.engine.m_nDownloaded.load());
            claims.insert(claimed);
        }
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(FileExists(dest));
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    // 12 MB in 256 KiB blocks would be some 45 updates.
    EXPECT_LE(claims.size(), size_t(size / CHttpDownload::kSyncBytes + 12)) << claims.size() << " updates";
}

// The final sync of a large file to a slow disk may outlast any stall rule.
// Meanwhile the engine says it is finishing, a stop returns without waiting
// for the disk and leaves a resumable pair, and the next start only moves
// the file into place: no byte is fetched again.
TEST_F(HttpDownloadTest, AStopDuringASlowFinalSyncNeitherWaitsNorFetchesAgain)
{
    const int64_t size = 3000000;
    std::string dest = h.dir / "synced.bin", url = h.Url(size, "synced.bin");
    h.HoldFinalSync();
    h.engine.Start(url.c_str(), dest.c_str());
    ASSERT_TRUE(h.FinalSyncEntered());
    EXPECT_TRUE(h.engine.IsFinishing());
    auto stopped = std::async(std::launch::async, [&] { h.engine.Stop(); });
    EXPECT_EQ(stopped.wait_for(5s), std::future_status::ready) << "Stop waited for the disk";
    h.ReleaseFinalSync();
    stopped.wait();

    size_t before = h.server.RequestCount();
    h.engine.Start(url.c_str(), dest.c_str());
    ASSERT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    EXPECT_EQ(h.NextState(1500), 0) << "a second message for one start";
    ExpectComplete(dest, "synced.bin", size);
    std::vector<SeenRequest> seen = h.server.Requests();
    for (size_t i = before; i < seen.size(); ++i)
        EXPECT_EQ(seen[i].range, "") << "only the size query was needed";
}

// Stopping a download of A and starting B of the same size to the same
// destination must give B, not A's head and B's tail.
TEST_F(HttpDownloadTest, AResumeNeverMixesTwoFilesOfOneSize)
{
    const int64_t size = 8000000;
    std::string dest = h.dir / "same.bin";
    StopMidway(h.Url(size, "a.bin", "rate=1500000"), dest);
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "b.bin"), dest, 0));
    EXPECT_TRUE(ReadWholeFile(dest) == DownloadHarness::Expected("b.bin", size));
}

// The file changes on the server between two runs (same URL, new ETag):
// the ranges carry If-Range, and the result is the new file whole.
TEST_F(HttpDownloadTest, AFileChangedOnTheServerIsFetchedAnewNotSpliced)
{
    const int64_t size = 8000000;
    std::string dest = h.dir / "changed.bin", url = h.Url(size, "changed.bin", "rate=1500000");
    StopMidway(url, dest);
    size_t before = h.server.RequestCount();
    SetDemoContentVersion(2);
    bool done = h.DownloadToEnd(url, dest, 0);
    SetDemoContentVersion(1);
    ASSERT_TRUE(done);
    std::vector<SeenRequest> seen = h.server.Requests();
    for (size_t i = before; i < seen.size(); ++i) {
        if (!seen[i].range.empty()) {
            EXPECT_EQ(seen[i].ifRange, "\"v2\"") << seen[i].range;
        }
    }
    EXPECT_TRUE(ReadWholeFile(dest) == DownloadHarness::Expected(DemoContentKey("changed.bin", 2), size));
}

TEST_F(HttpDownloadTest, TooLittleFreeSpaceCreatesNothing)
{
    h.engine.m_freeSpace = [](const std::string&) { return int64_t(100) * 1048576; };
    std::string dest = h.dir / "big.bin";
    h.engine.Start(h.Url(1048576, "big.bin").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    h.engine.Stop();
    EXPECT_FALSE(FileExists(dest + ".tmp!"));
    EXPECT_FALSE(FileExists(dest + ".info"));
    EXPECT_FALSE(FileExists(dest));
}

TEST_F(HttpDownloadTest, DataReachesTheFileInBlocksOf256KiB)
{
    std::string dest = h.dir / "blocks.bin";
    h.engine.Start(h.Url(300000, "blocks.bin", "rate=200000").c_str(), dest.c_str());
    std::set<int64_t> seen;
    auto deadline = std::chrono::steady_clock::now() + 30s;
    while (h.engine.m_nDownloaded < 300000 && seen.size() < 10 && std::chrono::steady_clock::now() < deadline) {
        seen.insert(h.engine.m_nDownloaded);
        std::this_thread::sleep_for(2ms);
    }
    seen.insert(h.engine.m_nDownloaded);
    EXPECT_EQ(seen, (std::set<int64_t>{0, 262144, 300000}));
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
}

TEST_F(HttpDownloadTest, ARefusedRangeEndsTheAttemptAndTheOwnerHearsAtOnce)
{
    std::string dest = h.dir / "refused.bin";
    h.engine.Start(h.Url(3000000, "refused.bin", "rangestatus=416").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    EXPECT_TRUE(FileExists(dest + ".tmp!"));
    EXPECT_EQ(h.engine.m_nDownloaded, 750592) << "only the first segment, which the size query's answer carried";
}

// Every request begins at the listed URL (a signed target expires in
// minutes) and follows the redirect with the target's own Host.
TEST_F(HttpDownloadTest, EveryRequestBeginsAtTheListedUrlAndFollowsItsRedirect)
{
    LoopbackServer origin;
    std::string target = "http://localhost:" + std::to_string(h.server.Port()) + "/content/2000000/moved.bin";
    origin.Routes().Get("/moved", [target](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(target);
    });
    origin.Start();
    std::string dest = h.dir / "moved.bin";
    ASSERT_TRUE(h.DownloadToEnd(origin.Url("/moved"), dest, 0));
    ASSERT_EQ(origin.RequestCount(), 4u) << "the size query and each range";
    EXPECT_EQ(origin.Requests()[0].host, origin.HostPort());
    int ranges = 0;
    for (const SeenRequest& r : h.server.Requests()) {
        EXPECT_EQ(r.host, "localhost:" + std::to_string(h.server.Port()));
        ranges += r.range.empty() ? 0 : 1;
    }
    EXPECT_EQ(ranges, 3) << "the target's answer to the size query carries the first segment";
    ExpectComplete(dest, "moved.bin", 2000000);
}

// The size query's answer is the file from byte 0: it carries the first
// segment, so a small file takes one request and a large one its size query
// and the other three ranges. Every request carries the engine's headers.
TEST_F(HttpDownloadTest, TheSizeQueryAnswerIsTheFirstSegment)
{
    auto fetch = [&](const std::string& name, int64_t size) {
        size_t before = h.server.RequestCount();
        std::string dest = h.dir / name;
        EXPECT_TRUE(h.DownloadToEnd(h.Url(size, name), dest, 0));
        ExpectComplete(dest, name, size);
        std::vector<SeenRequest> seen = h.server.Requests();
        return std::vector<SeenRequest>(seen.begin() + before, seen.end());
    };
    std::vector<SeenRequest> small = fetch("h.bin", 100000);
    ASSERT_EQ(small.size(), 1u);
    EXPECT_EQ(small[0].agent, "http Download");
    EXPECT_EQ(small[0].host, h.server.HostPort());
    EXPECT_EQ(small[0].range, "");
    std::vector<SeenRequest> large = fetch("large.bin", 3000000);
    ASSERT_EQ(large.size(), 4u);
    EXPECT_EQ(large[0].range, "");
    std::set<std::string> ranges;
    for (size_t i = 1; i < large.size(); ++i) {
        EXPECT_EQ(large[i].agent, "http Download");
        ranges.insert(large[i].range);
    }
    EXPECT_EQ(ranges, (std::set<std::string>{"bytes=750592-1501183", "bytes=1501184-2251775",
                                             "bytes=2251776-2999999"}));
}

// One engine keeps its connections from file to file; a kept connection
// that the server closed meanwhile is replaced without failing the attempt.
TEST_F(HttpDownloadTest, ConnectionsAreKeptAcrossFilesAndAClosedOneIsReplaced)
{
    h.server.Routes().set_keep_alive_timeout(1);
    auto fetch = [&](const std::string& name, int64_t size) {
        std::string dest = h.dir / name;
        h.engine.Start(h.Url(size, name).c_str(), dest.c_str());
        EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED) << name;
        ExpectComplete(dest, name, size);
    };
    auto peers = [&](size_t from) {
        std::set<int> seen;
        std::vector<SeenRequest> requests = h.server.Requests();
        for (size_t i = from; i < requests.size(); ++i)
            seen.insert(requests[i].peerPort);
        return seen;
    };
    fetch("first.bin", 3000000);
    std::set<int> first = peers(0);
    size_t before = h.server.RequestCount();
    fetch("second.bin", 200000);
    for (int port : peers(before))
        EXPECT_EQ(first.count(port), 1u) << "the second file opened a new connection";
    std::this_thread::sleep_for(2500ms);  // the server closes what is kept (after 1 s idle)
    before = h.server.RequestCount();
    fetch("third.bin", 200000);
    for (int port : peers(before))
        EXPECT_EQ(first.count(port), 0u) << "the kept connection was still open: nothing was replaced";
    h.engine.CloseConnections();
}

// What content hosts in the field do with validators: each case ends
// byte-exact, the ranges (all but the first segment, which the size query's
// answer carries) cost at most 1.15 times their bytes, and they carry the
// validator that is fit for If-Range.
struct ValidatorCase {
    const char* query;
    const char* ifRange;  // on every range request
};

class ValidatorTest : public HttpDownloadTest, public ::testing::WithParamInterface<ValidatorCase> {};

TEST_P(ValidatorTest, RangesCarryOnlyAValidatorFitForIfRangeAndNoByteIsSentTwice)
{
    const int64_t size = 3000000;
    std::string dest = h.dir / "v.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "v.bin", GetParam().query), dest, 0));
    ExpectComplete(dest, "v.bin", size);
    EXPECT_LE(h.sent, (size - 750592) * 115 / 100);
    int ranged = 0;
    for (const SeenRequest& r : h.server.Requests()) {
        if (!r.range.empty()) {
            EXPECT_EQ(r.ifRange, GetParam().ifRange) << r.range;
            ++ranged;
        }
    }
    EXPECT_GE(ranged, 3) << "the later segments came without range requests";
}

INSTANTIATE_TEST_SUITE_P(Hosts, ValidatorTest, ::testing::Values(
    ValidatorCase{"", "\"v1\""},
    ValidatorCase{"weak=1", "Mon, 07 Dec 2026 10:00:01 GMT"},
    ValidatorCase{"weak=1&nolastmodified=1", ""},
    ValidatorCase{"nolastmodified=1", "\"v1\""},
    ValidatorCase{"noetag=1", ""}),
    [](const auto& info) { return ParamName(info.param.query); });

// Answers that disagree with the size query on the file's version: a file
// replaced mid-download on a host that ignores If-Range, and the nodes of a
// load balancer, each with its own ETag and Last-Modified for the same
// bytes. The file is fetched again in one stream from byte 0, never
// spliced, without a failure posted; a host that cannot give one
// consistent copy (every stream breaks, every resume reaches the other
// node) fails after four tries, naming the versions.
struct DisagreementCase {
    const char* query;
    uint8_t state;
    int version;  // of the bytes placed
};

class DisagreementTest : public HttpDownloadTest, public ::testing::WithParamInterface<DisagreementCase> {};

TEST_P(DisagreementTest, OneConsistentCopyOrAFailureThatSaysSo)
{
    const int64_t size = 3000000;
    const DisagreementCase& c = GetParam();
    std::string dest = h.dir / "lb.bin";
    h.engine.Start(h.Url(size, "lb.bin", c.query).c_str(), dest.c_str());
    uint8_t state = h.NextState();
    DownloadFailure failure = h.engine.LastFailure();
    h.engine.Stop();
    SetDemoContentVersion(1);
    ASSERT_EQ(state, c.state) << failure.text;
    if (c.state == DOWNLOAD_FINISHED) {
        EXPECT_TRUE(ReadWholeFile(dest) == DownloadHarness::Expected(DemoContentKey("lb.bin", c.version), size));
        return;
    }
    EXPECT_EQ(failure.cause, FailureCause::Changed);
    EXPECT_NE(failure.text.find("no consistent copy in 4 tries"), std::string::npos) << failure.text;
    EXPECT_FALSE(FileExists(dest));
}

INSTANTIATE_TEST_SUITE_P(Hosts, DisagreementTest, ::testing::Values(
    DisagreementCase{"changeonrange=1&ignoreifrange=1", DOWNLOAD_FINISHED, 2},
    DisagreementCase{"nodes=2", DOWNLOAD_FINISHED, 1},
    DisagreementCase{"nodes=2&weak=1", DOWNLOAD_FINISHED, 1},
    DisagreementCase{"nodes=2&drop=1000000", DOWNLOAD_FAILED, 1}),
    [](const auto& info) { return ParamName(info.param.query); });

// CDN links are signed anew at every list fetch: with a strong ETag the
// query does not part a resumed file from its side file.
TEST_F(HttpDownloadTest, ASignedUrlSignedAnewResumesWhereItStopped)
{
    const int64_t size = 8000000;
    std::string dest = h.dir / "signed.bin";
    StopMidway(h.Url(size, "signed.bin", "rate=1500000&sig=first"), dest);
    size_t before = h.server.RequestCount();
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "signed.bin", "sig=second"), dest, 0));
    ExpectComplete(dest, "signed.bin", size);
    // Every segment had a block written: a resume asks none of them from its start.
    std::vector<SeenRequest> seen = h.server.Requests();
    for (size_t i = before; i < seen.size(); ++i) {
        for (const SegmentInfo& s : PlanSegments(size)) {
            EXPECT_NE(seen[i].range.rfind("bytes=" + std::to_string(s.start) + "-", 0), 0u)
                << seen[i].range << ": the second signature fetched the file again";
        }
    }
}

// A link of 16 KB/s fills a 256 KiB block in 16 s: progress must show in
// the bytes received, long before the first block is written.
TEST_F(HttpDownloadTest, ProgressCountsBytesReceivedBeforeTheirBlockIsWritten)
{
    std::string dest = h.dir / "slow.bin";
    h.engine.Start(h.Url(600000, "slow.bin", "rate=16000").c_str(), dest.c_str());
    EXPECT_TRUE(Eventually([&] { return h.engine.Progress() >= 16000; }));
    EXPECT_EQ(h.engine.m_nDownloaded, 0);
    h.engine.Stop();
}

// One connection dropped once at 128 KiB: that segment is asked again while
// the others run, in the same round (no failure posted, no second size
// query), and the engine's state says running until it posts: an event of
// an earlier start must not pass for one of this start.
TEST_F(HttpDownloadTest, ADroppedSegmentIsAskedAgainWhileTheOthersRun)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "dropped.bin";
    std::atomic<bool> done{false}, sawFailed{false};
    std::thread watch([&] {
        while (!done) {
            sawFailed = sawFailed || h.engine.m_nState == DOWNLOAD_FAILED;
            std::this_thread::sleep_for(1ms);
        }
    });
    h.engine.Start(h.Url(size, "dropped.bin", "droponce=131072&rate=4000000").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    done = true;
    watch.join();
    EXPECT_FALSE(sawFailed) << "a transfer's failure showed as the engine's";
    ExpectComplete(dest, "dropped.bin", size);
    size_t sizeQueries = 0;
    for (const SeenRequest& r : h.server.Requests())
        sizeQueries += r.range.empty() ? 1 : 0;
    EXPECT_EQ(sizeQueries, 1u);
}

// A stop while a broken-off segment waits for its restart: the next start
// has nothing of the last one to wait for, and places the file.
TEST_F(HttpDownloadTest, AStopWhileARestartIsDueLeavesNothingToWaitFor)
{
    const int64_t size = 3000000;
    std::string dest = h.dir / "due.bin";
    h.engine.m_morePay = Never;
    h.engine.m_nFirstRetryWaitMs = 600000;
    h.engine.Start(h.Url(size, "due.bin", "drop=1700000").c_str(), dest.c_str());
    // The answer broke off in segment 2; segment 3 came on a connection of its own.
    ASSERT_TRUE(Eventually([&] { return h.engine.m_nDownloaded == 1700000 + 748224; }));
    h.engine.Stop();
    h.engine.m_nFirstRetryWaitMs = 50;
    h.engine.Start(h.Url(size, "due.bin").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    ExpectComplete(dest, "due.bin", size);
}

// A file that may not widen (other rows wait for connections) keeps to one
// transfer however its segments stand: a resumed file's come one after
// another on one connection (the size query's, whose dropped body closed
// it, aside).
TEST_F(HttpDownloadTest, AResumedFileThatMayNotWidenKeepsToOneConnection)
{
    const int64_t size = 8000000;
    std::string dest = h.dir / "narrow.bin";
    StopMidway(h.Url(size, "narrow.bin", "rate=1500000"), dest);
    size_t before = h.server.RequestCount();
    h.engine.AllowMoreConnections(false);
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "narrow.bin"), dest, 0));
    ExpectComplete(dest, "narrow.bin", size);
    std::vector<SeenRequest> seen = h.server.Requests();
    std::set<int> ports;
    for (size_t i = before; i < seen.size(); ++i)
        ports.insert(seen[i].peerPort);
    EXPECT_LE(ports.size(), 2u);
}

// Failures name their cause, and a new start forgets the last one.
TEST_F(HttpDownloadTest, FailuresNameTheirCause)
{
    auto failure = [&](const std::string& url, const std::string& dest) {
        h.engine.Start(url.c_str(), dest.c_str());
        EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED) << url;
        DownloadFailure f = h.engine.LastFailure();
        h.engine.Stop();
        return f;
    };
    DownloadFailure refused = failure(h.Url(3000000, "r.bin", "rangestatus=403"), h.dir / "r.bin");
    EXPECT_EQ(refused.cause, FailureCause::HttpStatus);
    EXPECT_EQ(refused.status, 403);
    EXPECT_EQ(refused.text, "HTTP 403 to a range request");
    DownloadFailure gone = failure(h.Url(1000, "g.bin"), h.dir / "gone/g.bin");
    EXPECT_EQ(gone.cause, FailureCause::FileAccess);
    EXPECT_NE(gone.text.find("No such file or directory"), std::string::npos) << gone.text;
    h.engine.Start(h.Url(3000000, "r.bin", "rate=1000000").c_str(), (h.dir / "r.bin").c_str());
    EXPECT_EQ(h.engine.LastFailure().cause, FailureCause::None);
    h.engine.Stop();
    // Schannel's texts of a failed revocation check.
    const char* verification = curl_easy_strerror(CURLE_PEER_FAILED_VERIFICATION);
    for (auto [detail, cause] : {std::pair{"schannel: next InitializeSecurityContext failed: CRYPT_E_REVOKED (0x80092010)",
                                           " (the certificate has been revoked)"},
                                 {"schannel: CertGetCertificateChain trust error CERT_TRUST_REVOCATION_STATUS_UNKNOWN",
                                  " (its revocation could not be checked)"},
                                 {"Unknown error (0x80092013)", " (the revocation server could not be reached)"},
                                 {"schannel: CertGetCertificateChain trust error CERT_TRUST_IS_UNTRUSTED_ROOT", ""}})
        EXPECT_EQ(TransportFailure(CURLE_PEER_FAILED_VERIFICATION, 0, "h", detail).text,
                  std::string("TLS: ") + verification + cause);
}

// A failed sync: the side file keeps only what a good sync covered, nothing
// is moved into place, and the cause names the error.
TEST_F(HttpDownloadTest, AFailedSyncNeverBecomesASuccess)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "eio.bin", url = h.Url(size, "eio.bin", "rate=3000000");
    std::atomic<int> syncs{0};
    h.engine.m_dataSync = [&](fsys::Handle fd) {
        if (++syncs == 1)
            return fsys::SyncData(fd);
        errno = EIO;
        return -1;
    };
    h.engine.Start(url.c_str(), dest.c_str());
    ASSERT_EQ(h.NextState(), DOWNLOAD_FAILED);
    DownloadFailure failure = h.engine.LastFailure();
    h.engine.Stop();
    EXPECT_EQ(failure.cause, FailureCause::FileAccess);
    EXPECT_NE(failure.text.find("Input/output error"), std::string::npos) << failure.text;
    std::vector<SegmentInfo> saved;
    ASSERT_TRUE(LoadSideFile(dest + ".info", size, IdentityOf(url), saved));
    int64_t claimed = 0;
    for (const SegmentInfo& s : saved)
        claimed += s.done;
    EXPECT_LE(claimed, CHttpDownload::kSyncBytes + 4 * 262144) << "counts past the last good sync";
    EXPECT_FALSE(FileExists(dest));

    h.engine.m_dataSync = nullptr;
    h.engine.m_finalSync = [](fsys::Handle) {
        errno = EIO;
        return -1;
    };
    h.engine.Start(url.c_str(), dest.c_str());
    ASSERT_EQ(h.NextState(), DOWNLOAD_FAILED);
    EXPECT_NE(h.engine.LastFailure().text.find("cannot sync"), std::string::npos) << h.engine.LastFailure().text;
    h.engine.Stop();
    EXPECT_FALSE(FileExists(dest)) << "a file whose final sync failed was moved into place";
    h.engine.m_finalSync = nullptr;
    ASSERT_TRUE(h.DownloadToEnd(url, dest, 0));
    ExpectComplete(dest, "eio.bin", size);
}

// The md5 of the resource record: a file that matches is placed; one that
// does not is fetched once more, kept when both copies agree and have the
// listed size (the digest describes something else), failed when they
// differ, or agree at another size (a captive portal's page). A host that
// sends no validator and replaces the file mid-download is caught this way.
struct ChecksumCase {
    const char* query;
    const char* md5Of;   // the file whose digest is given ("" for a digest of nothing here)
    uint8_t state;
    int sizeQueries;
    int64_t listed = 0;  // the size the list gives; 0: not known
};

class ChecksumTest : public HttpDownloadTest, public ::testing::WithParamInterface<ChecksumCase> {};

TEST_P(ChecksumTest, TheFileIsCheckedBeforeItTakesItsName)
{
    const int64_t size = 3000000;
    const ChecksumCase& c = GetParam();
    std::string dest = h.dir / "sum.bin";
    std::string md5 = *c.md5Of ? Md5Hex(DownloadHarness::Expected(c.md5Of, size)) : std::string(32, 'a');
    h.engine.Start(h.Url(size, "sum.bin", c.query).c_str(), dest.c_str(), 0, md5.c_str(), c.listed);
    uint8_t state = h.NextState();
    DownloadFailure failure = h.engine.LastFailure();
    h.engine.Stop();
    SetDemoContentVersion(1);
    EXPECT_EQ(state, c.state);
    int sizeQueries = 0;
    for (const SeenRequest& r : h.server.Requests())
        sizeQueries += r.range.empty() ? 1 : 0;
    EXPECT_EQ(sizeQueries, c.sizeQueries);
    if (c.state == DOWNLOAD_FAILED) {
        EXPECT_EQ(failure.cause, FailureCause::Checksum);
        EXPECT_FALSE(FileExists(dest));
    } else {
        EXPECT_TRUE(FileExists(dest));
    }
}

INSTANTIATE_TEST_SUITE_P(Digests, ChecksumTest, ::testing::Values(
    ChecksumCase{"", "sum.bin", DOWNLOAD_FINISHED, 1},
    ChecksumCase{"", "", DOWNLOAD_FINISHED, 2},
    ChecksumCase{"", "", DOWNLOAD_FINISHED, 2, 3000000},
    ChecksumCase{"portal", "", DOWNLOAD_FAILED, 2, 5000000},
    ChecksumCase{"noetag=1&changeonrange=1", "sum.bin@v2", DOWNLOAD_FINISHED, 2},
    ChecksumCase{"noetag=1&changeonrange=1", "", DOWNLOAD_FAILED, 2}),
    [](const auto& info) {
        return ParamName(info.param.query) + "_md5of_" + ParamName(info.param.md5Of, "other") + "_listed" +
               std::to_string(info.param.listed);
    });

// An owner's restart between the copies (a stall in the second) keeps the
// first copy's digest: the second copy, like the first at the listed size,
// is kept, not taken for a first copy and fetched a third time.
TEST_F(HttpDownloadTest, ARestartBetweenTheCopiesKeepsTheFirstCopysDigest)
{
    const int64_t size = 3000000;
    std::string dest = h.dir / "again.bin", url = h.Url(size, "again.bin", "rate=1000000");
    std::string md5(32, 'a');
    auto sizeQueries = [&] {
        size_t n = 0;
        for (const SeenRequest& r : h.server.Requests())
            n += r.range.empty() ? 1 : 0;
        return n;
    };
    h.engine.Start(url.c_str(), dest.c_str(), 0, md5.c_str(), size);
    ASSERT_TRUE(Eventually([&] { return sizeQueries() == 2 && h.engine.m_nDownloaded >= 262144; }));
    h.engine.Stop();
    h.engine.Start(url.c_str(), dest.c_str(), 0, md5.c_str(), size);
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    EXPECT_TRUE(h.engine.ChecksumOverruled());
    h.engine.Stop();
    EXPECT_EQ(sizeQueries(), 3u) << "the first copy, the second, and the second resumed";
    ExpectComplete(dest, "again.bin", size);
}

// Part files open at once share the free space: one whose allocation left
// its blocks to the writes (a sparse file) is counted while it is open, so
// two that fit one at a time are not both started; blocks the file system
// reserved have left the free space already.
TEST(PartFileTest, OpenPartFilesShareTheFreeSpace)
{
    const int64_t size = 8 << 20;
    TempDir dir;
    auto freeSpace = [](const std::string&) { return CPartFile::kFreeSpaceReserve + size * 3 / 2; };
    std::atomic<int64_t> written1{0}, written2{0};
    CPartFile first(written1), second(written2);
    first.SetDestination(dir / "first.bin");
    second.SetDestination(dir / "second.bin");
    DownloadFailure why;
    ASSERT_EQ(first.Prepare(size, 1, false, freeSpace, nullptr, why), 0) << why.text;
    bool reserved = fsys::Stat(first.TempPath(), false).allocated >= size;
    ASSERT_EQ(first.Prepare(size, 1, false, freeSpace, nullptr, why), 0) << "its own share is not counted twice";
    int refused = second.Prepare(size, 2, false, freeSpace, nullptr, why);
    if (reserved) {
        EXPECT_EQ(refused, 0) << why.text;
    } else {
        EXPECT_EQ(refused, -2);
        EXPECT_EQ(why.cause, FailureCause::DiskSpace) << why.text;
        EXPECT_FALSE(FileExists(second.TempPath()));
    }
    first.Close();
    EXPECT_EQ(second.Prepare(size, 2, false, freeSpace, nullptr, why), 0) << why.text;
}

}  // namespace
