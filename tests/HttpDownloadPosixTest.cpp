// The engine's cases that need POSIX facilities: symbolic links, small
// mounted file systems, a name lookup held up by the test's own resolver,
// and the fault table through nginx as an HTTP/2 front.
#include <future>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "net/SideFile.h"
#include "tests/support/HttpDownloadFixture.h"
#include "tests/support/SlowResolver.h"
#include "tests/support/SmallFileSystem.h"

namespace {

// The fault table over HTTP/2: a cut answer reaches the engine as a reset
// stream, and files go on over new connections after GOAWAYs.
INSTANTIATE_TEST_SUITE_P(FaultsOverHttp2, FaultTest,
                         ::testing::Combine(::testing::ValuesIn(kFaults), ::testing::Bool(), ::testing::Values(Route::Http2)),
                         FaultName);
INSTANTIATE_TEST_SUITE_P(FaultsOverHttp2, EveryFaultTest, ::testing::Values(Route::Http2, Route::Http2Goaway),
                         EveryFaultName);

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
    // Slow enough (four segments at 500 KB/s) that the disk fills before the end.
    std::string dest = disk / "filling.bin", filler = disk / "filler", url = h.Url(size, "filling.bin", "rate=500000");
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

// A name lookup that takes seconds (a venue's DNS is out): stopping the
// engine in the middle of it returns at once, not when the lookup ends.
TEST_F(HttpDownloadTest, StopNeverWaitsForASlowNameLookup)
{
    SetSlowLookupMs(6000);
    std::string dest = h.dir / "slow-dns.bin";
    int lookups = SlowLookupsBegun();
    h.engine.Start(SlowHostUrl(h.server.Port(), "/content/1000/slow-dns.bin").c_str(), dest.c_str());
    ASSERT_TRUE(Eventually([&] { return SlowLookupsBegun() > lookups; }));
    auto stopped = std::async(std::launch::async, [&] { h.engine.Stop(); });
    EXPECT_EQ(stopped.wait_for(3s), std::future_status::ready) << "Stop waited for the resolver";
    stopped.wait();
    lookups = SlowLookupsBegun();
    h.engine.Start(SlowHostUrl(h.server.Port(), "/content/1000/slow-dns.bin").c_str(), dest.c_str());
    ASSERT_TRUE(Eventually([&] { return SlowLookupsBegun() > lookups; }));
    auto restarted = std::async(std::launch::async, [&] { h.engine.Start(h.Url(1000, "x.bin").c_str(), dest.c_str()); });
    EXPECT_EQ(restarted.wait_for(3s), std::future_status::ready) << "a restart waited for the resolver";
    restarted.wait();
    EXPECT_EQ(h.NextState(), DOWNLOAD_FINISHED);
}


}  // namespace
