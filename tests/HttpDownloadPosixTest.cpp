// The engine's cases that need POSIX facilities: symbolic links, small
// mounted file systems, a name lookup held up by the test's own resolver,
// and signals to a running qv-download.
#include <csignal>
#include <future>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "net/SideFile.h"
#include "tests/support/HttpDownloadFixture.h"
#include "tests/support/SlowResolver.h"
#include "tests/support/SmallFileSystem.h"

extern char** environ;

namespace {

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

// Several files in flight when the process dies: a second run resumes each
// from its own side file and ends every one byte-exact.
TEST_F(HttpDownloadTest, AKilledListOfFilesInFlightResumesEveryOne)
{
    const int64_t size = 3000000;
    std::string list = h.dir / "list.txt", dir = h.dir / "out";
    std::vector<std::string> names;
    {
        std::ofstream out(list);
        for (int i = 0; i < 6; ++i) {
            names.push_back("in-flight" + std::to_string(i) + ".bin");
            out << h.Url(size, names.back(), "rate=1000000") << "\n";
        }
    }
    pid_t first = StartDownloader(list, dir, "/dev/null", "-i");
    ASSERT_GT(first, 0);
    ASSERT_TRUE(Eventually([&] {
        int resumable = 0;
        for (const std::string& name : names)
            resumable += FileExists(dir + "/" + name + ".info") ? 1 : 0;
        return resumable >= 3;
    }));
    std::this_thread::sleep_for(700ms);
    kill(first, SIGKILL);
    ExitStatus(first);
    EXPECT_EQ(ExitStatus(StartDownloader(list, dir, "/dev/null", "-i")), 0);
    for (const std::string& name : names)
        ExpectComplete(dir + "/" + name, name, size);
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
