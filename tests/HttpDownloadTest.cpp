#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <gtest/gtest.h>
#include <limits>
#include <regex>
#include <set>
#include <sstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "common/Md5.h"
#include "demo/DemoContent.h"
#include "net/HttpRequest.h"
#include "net/SideFile.h"
#include "net/Validators.h"
#include "tests/support/DownloadHarness.h"
#include "tests/support/SlowResolver.h"
#include "tests/support/SmallFileSystem.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

void WriteFile(const std::string& path, const std::string& bytes)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
}

// What the engine stores in the side file for a demo URL (the demo's files
// are at version 1).
uint64_t IdentityOf(const std::string& url)
{
    return DownloadIdentity(url, Validators{"\"v1\"", ""});
}

// Waits until `condition` holds, at most 30 s.
template <typename Condition>
bool Eventually(Condition condition)
{
    for (int i = 0; i < 3000; ++i) {
        if (condition())
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

class HttpDownloadTest : public ::testing::Test {
protected:
    void ExpectComplete(const std::string& dest, const std::string& name, int64_t size)
    {
        EXPECT_TRUE(ReadWholeFile(dest) == DownloadHarness::Expected(name, size)) << "bytes differ";
        EXPECT_FALSE(FileExists(dest + ".tmp!"));
        EXPECT_FALSE(FileExists(dest + ".info"));
    }

    // Starts a slow download and stops it once every segment has written
    // at least one block.
    void StopMidway(const std::string& url, const std::string& dest)
    {
        h.engine.Start(url.c_str(), dest.c_str());
        ASSERT_TRUE(Eventually([&] { return h.engine.m_nDownloaded >= 4 * 262144; }));
        h.engine.Stop();
    }

    DownloadHarness h;
};

class FaultTest : public HttpDownloadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FaultTest, EndsByteExactAtTheDestination)
{
    const int64_t size = 3000000;
    std::string dest = h.dir / "file.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "f.bin", GetParam()), dest));
    ExpectComplete(dest, "f.bin", size);
}

const char* const kFaults[] = {"", "drop=200000", "drop=123457", "norange=1", "redirect=1",
                               "stall=500000&stall_ms=300", "redirect=1&drop=300000",
                               "norange=1&redirect=1", "drop=400000&stall=300000&stall_ms=200",
                               "redirect=html", "redirect=html&drop=300000", "weak=1", "weak=1&drop=300000",
                               "weak=1&nolastmodified=1", "noetag=1&drop=300000"};

INSTANTIATE_TEST_SUITE_P(Faults, FaultTest, ::testing::ValuesIn(kFaults));

// The same faults one after another on one engine: its kept connections
// (some broken off by the faults before) never spoil a file.
TEST_F(HttpDownloadTest, KeptConnectionsStayByteExactThroughEveryFault)
{
    const int64_t size = 3000000;
    for (size_t i = 0; i < std::size(kFaults); ++i) {
        std::string name = "kept" + std::to_string(i) + ".bin", dest = h.dir / name;
        ASSERT_TRUE(h.DownloadToEnd(h.Url(size, name, kFaults[i]), dest)) << kFaults[i];
        ExpectComplete(dest, name, size);
    }
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
    h.engine.Start(h.Url(1000, "missing.bin", "status=404").c_str(), dest.c_str());
    ASSERT_EQ(h.NextState(), DOWNLOAD_FAILED);
    auto first = std::chrono::steady_clock::now();
    EXPECT_EQ(h.server.RequestCount(), 5u);
    ASSERT_EQ(h.NextState(), DOWNLOAD_FAILED);
    EXPECT_GE(std::chrono::steady_clock::now() - first, 900ms) << "no pause between rounds";
    EXPECT_EQ(h.server.RequestCount(), 10u);
    h.engine.Stop();
    size_t atStop = h.server.RequestCount();
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(h.server.RequestCount(), atStop);
    EXPECT_FALSE(FileExists(dest + ".tmp!"));
}

TEST_F(HttpDownloadTest, ASizeQueryThatIsNeverAnsweredFailsAfterTheTransferLimit)
{
    SilentListener silent;
    h.engine.m_nStallSeconds = 1;  // stands in for the 60 s limit
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
// completion leaves one timestamped line naming the URL.
TEST_F(HttpDownloadTest, DiagnosticsGiveATimestampedLinePerRequestAndDownload)
{
    setenv("QUORVEL_DEBUG", "1", 1);
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
    unsetenv("QUORVEL_DEBUG");
    const std::string stamp = R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )";
    for (const char* line : {
             R"(request http://\S+/content/10/r\.txt\?status=404 status 404 bytes 0 ms \d+)",
             R"(download start http://\S+/content/1000/d\.bin -> \S+/d\.bin)",
             R"(download done http://\S+/d\.bin -> \S+/d\.bin \(complete\), 1000 of 1000 bytes)",
             R"(download failed http://\S+/x\.bin\?status=500 -> \S+/x\.bin \(HTTP 500\), 0 of 0 bytes)"})
        EXPECT_TRUE(std::regex_search(log, std::regex("(^|\n)" + stamp + line + "\n"))) << line << "\n" << log;
    // Every line, the workers' own texts included, has its stamp and ends
    // in a plain newline.
    EXPECT_EQ(log.find('\r'), std::string::npos);
    std::istringstream lines(log);
    for (std::string l; std::getline(lines, l);)
        EXPECT_TRUE(std::regex_search(l, std::regex("^" + stamp))) << l;
    EXPECT_NE(log.find("URL请求成功开始接收数据"), std::string::npos) << "the workers' texts are there too";
}

// Signed CDN URLs run far past 259 characters; the Host header must not
// come out empty.
TEST_F(HttpDownloadTest, ALongUrlKeepsItsHost)
{
    std::string dest = h.dir / "long.bin";
    ASSERT_TRUE(h.DownloadToEnd(h.Url(300000, "long.bin", "signature=" + std::string(1500, 's')), dest, 0));
    ExpectComplete(dest, "long.bin", 300000);
    for (const SeenRequest& r : h.server.Requests())
        EXPECT_EQ(r.host, "127.0.0.1");
}

TEST_F(HttpDownloadTest, ARedirectLoopFailsEachSizeQueryAfterTenHops)
{
    LoopbackServer loop;
    loop.Routes().Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
    loop.Start();
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

TEST_F(HttpDownloadTest, ALinkPlantedAsTheTemporaryFileIsNeverWrittenThrough)
{
    std::string victim = h.dir / "victim", dest = h.dir / "planted.bin";
    WriteFile(victim, "keep me");
    ASSERT_EQ(symlink(victim.c_str(), (dest + ".tmp!").c_str()), 0);
    h.engine.Start(h.Url(300000, "planted.bin").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    h.engine.Stop();
    EXPECT_EQ(ReadWholeFile(victim), "keep me");
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
    while (!FileExists(dest)) {
        if (LoadSideFile(dest + ".info", size, IdentityOf(url), saved)) {
            int64_t claimed = 0;
            for (const SegmentInfo& s : saved)
                claimed += s.done;
            EXPECT_LE(claimed, h.engine.m_nDownloaded.load());
            claims.insert(claimed);
        }
        std::this_thread::sleep_for(2ms);
    }
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

// On a disk with blocks kept for root, a file that would fit only into
// those is refused before anything is made: they are not the user's to fill.
TEST_F(HttpDownloadTest, BlocksKeptForRootAreNotFreeSpace)
{
    SmallFileSystem disk(400 << 20, 50);
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a file system image needs root and a loop device";
    struct statvfs info;
    ASSERT_EQ(statvfs(disk.Path().c_str(), &info), 0);
    const int64_t size = 150 << 20;
    ASSERT_LT(int64_t(info.f_bavail * info.f_frsize), size + CHttpDownload::kFreeSpaceReserve);
    ASSERT_GT(int64_t(info.f_bfree * info.f_frsize), size + CHttpDownload::kFreeSpaceReserve);
    std::string dest = disk / "big.bin";
    h.engine.Start(h.Url(size, "big.bin").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    h.engine.Stop();
    EXPECT_FALSE(FileExists(dest + ".tmp!"));
    EXPECT_FALSE(FileExists(dest + ".info"));
}

// A real full file system, with a side file left from an earlier file of
// that name (its .tmp! gone): the start fails without leaving anything
// behind, and once there is room the file arrives byte-exact (the old side
// file would have claimed the new, zero-filled file complete).
TEST_F(HttpDownloadTest, AFullDiskLeavesNothingAndAnOrphanedSideFileIsNeverTrusted)
{
    SmallFileSystem disk(1 << 20);
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    const int64_t size = 2 << 20;
    std::string dest = disk / "new.bin";
    ASSERT_TRUE(SaveSideFile(dest + ".info", {{0, size, size - 1, SEGMENT_IDLE}}, IdentityOf(h.Url(size, "new.bin"))));
    h.engine.m_freeSpace = [](const std::string&) { return int64_t(1) << 40; };  // past the check
    h.engine.Start(h.Url(size, "new.bin").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    h.engine.Stop();
    EXPECT_FALSE(FileExists(dest + ".tmp!"));
    EXPECT_FALSE(FileExists(dest + ".info"));

    ASSERT_TRUE(disk.Resize(8 << 20));
    ASSERT_TRUE(h.DownloadToEnd(h.Url(size, "new.bin"), dest, 0));
    ExpectComplete(dest, "new.bin", size);
}

// Writes until the file system is full, as another program might.
void FillDisk(const std::string& path)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::string chunk(1 << 20, 'x');
    for (size_t length = chunk.size(); length >= 4096; length /= 16) {
        while (write(fd, chunk.data(), length) == static_cast<ssize_t>(length)) {
        }
    }
    close(fd);
}

// The disk fills up under a running download: the side file can no longer
// be replaced, so the attempt fails; the pair left counts only bytes that
// are on disk, a start on the full disk fails at once, and once there is
// room again the download resumes (the space the temporary file already
// holds counts as free) and completes.
TEST_F(HttpDownloadTest, ADiskThatFillsUpMidwayFailsTheAttemptAndResumesOnceThereIsRoom)
{
    const int64_t size = 8 << 20;
    SmallFileSystem disk(size + CHttpDownload::kFreeSpaceReserve + (4 << 20));
    if (!disk.Mounted())
        GTEST_SKIP() << "mounting a small file system needs root";
    std::string dest = disk / "filling.bin", filler = disk / "filler", url = h.Url(size, "filling.bin", "rate=2000000");
    h.engine.Start(url.c_str(), dest.c_str());
    ASSERT_TRUE(Eventually([&] { return h.engine.m_nDownloaded >= 1 << 20; }));
    FillDisk(filler);
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED);
    h.engine.Stop();
    std::vector<SegmentInfo> saved;
    ASSERT_TRUE(LoadSideFile(dest + ".info", size, IdentityOf(url), saved));
    std::string onDisk = ReadWholeFile(dest + ".tmp!"), expected = DownloadHarness::Expected("filling.bin", size);
    for (const SegmentInfo& s : saved)
        EXPECT_EQ(onDisk.compare(s.start, s.done, expected, s.start, s.done), 0) << "claimed bytes differ";
    EXPECT_FALSE(FileExists(dest + ".info.new"));

    h.engine.Start(url.c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FAILED) << "no room";
    h.engine.Stop();
    unlink(filler.c_str());
    ASSERT_TRUE(h.DownloadToEnd(url, dest, 0));
    ExpectComplete(dest, "filling.bin", size);
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
    while (h.engine.m_nDownloaded < 300000 && seen.size() < 10) {
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

TEST_F(HttpDownloadTest, AfterARedirectRangesGoToTheTargetWithItsOwnHost)
{
    LoopbackServer origin;
    std::string target = "http://localhost:" + std::to_string(h.server.Port()) + "/content/2000000/moved.bin";
    origin.Routes().Get("/moved", [target](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(target);
    });
    origin.Start();
    std::string dest = h.dir / "moved.bin";
    ASSERT_TRUE(h.DownloadToEnd(origin.Url("/moved"), dest, 0));
    ASSERT_EQ(origin.RequestCount(), 1u);
    EXPECT_EQ(origin.Requests()[0].host, "127.0.0.1");
    int ranges = 0;
    for (const SeenRequest& r : h.server.Requests()) {
        EXPECT_EQ(r.host, "localhost");
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
    EXPECT_EQ(small[0].host, "127.0.0.1");
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
    std::this_thread::sleep_for(2500ms);  // the server closes what is kept
    fetch("third.bin", 200000);
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
    for (const SeenRequest& r : h.server.Requests()) {
        if (!r.range.empty()) {
            EXPECT_EQ(r.ifRange, GetParam().ifRange) << r.range;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, ValidatorTest, ::testing::Values(
    ValidatorCase{"", "\"v1\""},
    ValidatorCase{"weak=1", "Mon, 07 Dec 2026 10:00:01 GMT"},
    ValidatorCase{"weak=1&nolastmodified=1", ""},
    ValidatorCase{"nolastmodified=1", "\"v1\""},
    ValidatorCase{"noetag=1", ""}));

// A host that ignores If-Range while the file is replaced between the size
// query and the ranges (same size): the ranges' ETag differs from the size
// query's, the attempt fails naming both, and the file starts over as the
// new version whole, never a splice.
TEST_F(HttpDownloadTest, AFileReplacedMidDownloadOnAHostIgnoringIfRangeStartsOverClean)
{
    const int64_t size = 3000000;
    std::string dest = h.dir / "replaced.bin", url = h.Url(size, "replaced.bin", "changeonrange=1&ignoreifrange=1");
    h.engine.Start(url.c_str(), dest.c_str());
    uint8_t first = h.NextState();
    DownloadFailure failure = h.engine.LastFailure();
    uint8_t second = h.NextState();
    SetDemoContentVersion(1);
    ASSERT_EQ(first, DOWNLOAD_FAILED);
    EXPECT_EQ(failure.cause, FailureCause::Changed);
    EXPECT_NE(failure.text.find("\"v1\", then ETag \"v2\""), std::string::npos) << failure.text;
    ASSERT_EQ(second, DOWNLOAD_FINISHED) << "the engine's next round fetches the new version";
    EXPECT_TRUE(ReadWholeFile(dest) == DownloadHarness::Expected(DemoContentKey("replaced.bin", 2), size));
}

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
// the others run, in the same round (no failure posted, no second size query).
TEST_F(HttpDownloadTest, ADroppedSegmentIsAskedAgainWhileTheOthersRun)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "dropped.bin";
    h.engine.Start(h.Url(size, "dropped.bin", "droponce=131072&rate=4000000").c_str(), dest.c_str());
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
    ExpectComplete(dest, "dropped.bin", size);
    size_t sizeQueries = 0;
    for (const SeenRequest& r : h.server.Requests())
        sizeQueries += r.range.empty() ? 1 : 0;
    EXPECT_EQ(sizeQueries, 1u);
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
}

// A failed sync: the side file keeps only what a good sync covered, nothing
// is moved into place, and the cause names the error.
TEST_F(HttpDownloadTest, AFailedSyncNeverBecomesASuccess)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "eio.bin", url = h.Url(size, "eio.bin", "rate=3000000");
    std::atomic<int> syncs{0};
    h.engine.m_dataSync = [&](int fd) {
        if (++syncs == 1)
            return fdatasync(fd);
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
    h.engine.m_finalSync = [](int) {
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
// does not is fetched once more, kept when both copies agree (the digest
// describes something else), failed when they differ. A host that sends no
// validator and replaces the file mid-download is caught this way.
struct ChecksumCase {
    const char* query;
    const char* md5Of;   // the file whose digest is given ("" for a digest of nothing here)
    uint8_t state;
    int sizeQueries;
};

class ChecksumTest : public HttpDownloadTest, public ::testing::WithParamInterface<ChecksumCase> {};

TEST_P(ChecksumTest, TheFileIsCheckedBeforeItTakesItsName)
{
    const int64_t size = 3000000;
    const ChecksumCase& c = GetParam();
    std::string dest = h.dir / "sum.bin";
    std::string md5 = *c.md5Of ? Md5Hex(DownloadHarness::Expected(c.md5Of, size)) : std::string(32, 'a');
    h.engine.Start(h.Url(size, "sum.bin", c.query).c_str(), dest.c_str(), 0, md5.c_str());
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
    ChecksumCase{"noetag=1&changeonrange=1", "sum.bin@v2", DOWNLOAD_FINISHED, 2},
    ChecksumCase{"noetag=1&changeonrange=1", "", DOWNLOAD_FAILED, 2}));

// A name lookup that takes seconds (a venue's DNS is out): stopping the
// engine in the middle of it returns at once, not when the lookup ends.
TEST_F(HttpDownloadTest, StopNeverWaitsForASlowNameLookup)
{
    SetSlowLookupMs(6000);
    std::string dest = h.dir / "slow-dns.bin";
    h.engine.Start(SlowHostUrl(h.server.Port(), "/content/1000/slow-dns.bin").c_str(), dest.c_str());
    std::this_thread::sleep_for(300ms);  // in the lookup
    auto stopped = std::async(std::launch::async, [&] { h.engine.Stop(); });
    EXPECT_EQ(stopped.wait_for(3s), std::future_status::ready) << "Stop waited for the resolver";
    stopped.wait();
    h.engine.Start(SlowHostUrl(h.server.Port(), "/content/1000/slow-dns.bin").c_str(), dest.c_str());
    std::this_thread::sleep_for(300ms);
    auto restarted = std::async(std::launch::async, [&] { h.engine.Start(h.Url(1000, "x.bin").c_str(), dest.c_str()); });
    EXPECT_EQ(restarted.wait_for(3s), std::future_status::ready) << "a restart waited for the resolver";
    restarted.wait();
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
}

// Runs qv-download with `first second` as its arguments, its output into
// `output` (default: discarded).
pid_t StartDownloader(const std::string& first, const std::string& second, const std::string& output = "/dev/null",
                      const char* option = nullptr)
{
    pid_t pid = 0;
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    std::vector<const char*> argv{QV_DOWNLOAD_PATH};
    if (option)
        argv.insert(argv.end(), {option, first.c_str(), "-d", second.c_str()});
    else
        argv.insert(argv.end(), {first.c_str(), second.c_str()});
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid, QV_DOWNLOAD_PATH, &actions, nullptr, const_cast<char**>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out);
    return rc == 0 ? pid : -1;
}

int ExitStatus(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(HttpDownloadTest, AKilledDownloaderResumesLosingAtMostOneBlockPerSegment)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "killed.bin";
    pid_t first = StartDownloader(h.Url(size, "killed.bin", "rate=2000000"), dest);
    ASSERT_GT(first, 0);
    std::vector<SegmentInfo> saved;
    ASSERT_TRUE(Eventually([&] {
        if (!LoadSideFile(dest + ".info", size, IdentityOf(h.Url(size, "killed.bin", "rate=2000000")), saved))
            return false;
        int64_t done = 0;
        for (const SegmentInfo& s : saved)
            done += s.done;
        return done >= 2 * 1048576;
    }));
    kill(first, SIGKILL);
    ExitStatus(first);
    int64_t firstRun = h.sent;

    pid_t second = StartDownloader(h.Url(size, "killed.bin", "rate=2000000"), dest);
    ASSERT_EQ(ExitStatus(second), 0);
    ExpectComplete(dest, "killed.bin", size);
    int64_t fetchedTwice = firstRun + (h.sent - firstRun) - size;
    // What the side file did not count yet (it counts only synced bytes,
    // brought up to date every kSyncBytes), a block not yet written at the
    // kill, plus what was in flight.
    EXPECT_LE(fetchedTwice, CHttpDownload::kSyncBytes + 4 * (262144 + 65536));
}

TEST_F(HttpDownloadTest, CtrlCStopsTheDownloaderAndALaterRunResumes)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "interrupted.bin";
    pid_t first = StartDownloader(h.Url(size, "interrupted.bin", "rate=2000000"), dest);
    ASSERT_GT(first, 0);
    ASSERT_TRUE(Eventually([&] { return FileExists(dest + ".info"); }));
    kill(first, SIGINT);
    EXPECT_EQ(ExitStatus(first), 130);
    EXPECT_TRUE(FileExists(dest + ".tmp!"));
    std::vector<SegmentInfo> saved;
    EXPECT_TRUE(LoadSideFile(dest + ".info", size, IdentityOf(h.Url(size, "interrupted.bin", "rate=2000000")), saved));
    EXPECT_FALSE(FileExists(dest));

    EXPECT_EQ(ExitStatus(StartDownloader(h.Url(size, "interrupted.bin", "rate=2000000"), dest)), 0);
    ExpectComplete(dest, "interrupted.bin", size);
}

}  // namespace

namespace {

// A list of good, missing and unsafe entries: the good ones arrive (named
// from their URLs), the exit status is the last failure's (an unsafe name is
// bad input), and the summary names the failures.
TEST_F(HttpDownloadTest, AListIsFetchedIntoADirectoryAndTheSummaryNamesTheFailures)
{
    std::string list = h.dir / "list.txt", out = h.dir / "out", report = h.dir / "report.txt";
    ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
    std::string missing = h.Url(1000, "gone.bin", "status=404"), unsafe = h.Url(1000, "a%2Fb.bin");
    WriteFile(list, "# a meeting\n" + h.Url(3000000, "big.bin") + "\n\n" + missing + "\n" + unsafe + "\n" +
                        h.Url(70000, "small%20one.bin") + "\n");
    EXPECT_EQ(ExitStatus(StartDownloader(list, out, report, "-i")), 2);
    ExpectComplete(out + "/big.bin", "big.bin", 3000000);
    ExpectComplete(out + "/small one.bin", "small one.bin", 70000);
    std::string summary = ReadWholeFile(report);
    EXPECT_NE(summary.find("4 files, 3070000 bytes, 2 failed"), std::string::npos) << summary;
    EXPECT_NE(summary.find(missing), std::string::npos) << summary;
    EXPECT_NE(summary.find(unsafe + ": unsafe file name"), std::string::npos) << summary;
    for (const SeenRequest& r : h.server.Requests())
        EXPECT_EQ(r.target.find("a%2Fb"), std::string::npos) << "an unsafe entry was fetched";
}

}  // namespace
