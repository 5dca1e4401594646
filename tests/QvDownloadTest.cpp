// qv-download as a process: killed or interrupted mid-download and run
// again, and a list of entries with its summary.
#include <algorithm>
#include <csignal>
#include <sys/stat.h>

#include "net/SideFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HttpDownloadFixture.h"

namespace {

// qv-download with `first second` as its arguments (with `option`: the
// list `first` into the directory `second`), its output into `output`.
ChildProcess StartDownloader(const std::string& first, const std::string& second, const std::string& output = "",
                             const char* option = nullptr)
{
    std::vector<std::string> argv{QV_DOWNLOAD_PATH};
    if (option)
        argv.insert(argv.end(), {option, first, "-d", second});
    else
        argv.insert(argv.end(), {first, second});
    return ChildProcess(argv, output.empty() ? "/dev/null" : output);
}

TEST_F(HttpDownloadTest, AKilledDownloaderResumesLosingAtMostOneBlockPerSegment)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "killed.bin";
    ChildProcess first = StartDownloader(h.Url(size, "killed.bin", "rate=2000000"), dest);
    ASSERT_GT(first.Pid(), 0);
    std::vector<SegmentInfo> saved;
    ASSERT_TRUE(Eventually([&] {
        if (!LoadSideFile(dest + ".info", size, IdentityOf(h.Url(size, "killed.bin", "rate=2000000")), saved))
            return false;
        int64_t done = 0;
        for (const SegmentInfo& s : saved)
            done += s.done;
        return done >= 2 * 1048576;
    }));
    first.Signal(SIGKILL);
    first.Wait();
    int64_t firstRun = h.sent;

    ASSERT_EQ(StartDownloader(h.Url(size, "killed.bin", "rate=2000000"), dest).Wait(), 0);
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
    ChildProcess first = StartDownloader(list, dir, "", "-i");
    ASSERT_GT(first.Pid(), 0);
    // Killed once three side files claim bytes: three resumes to make.
    ASSERT_TRUE(Eventually([&] {
        int resumable = 0;
        for (const std::string& name : names) {
            std::vector<SegmentInfo> saved;
            if (LoadSideFile(dir + "/" + name + ".info", size, IdentityOf(h.Url(size, name, "rate=1000000")), saved))
                resumable += std::any_of(saved.begin(), saved.end(), [](const SegmentInfo& s) { return s.done > 0; });
        }
        return resumable >= 3;
    }));
    first.Signal(SIGKILL);
    first.Wait();
    EXPECT_EQ(StartDownloader(list, dir, "", "-i").Wait(), 0);
    for (const std::string& name : names)
        ExpectComplete(dir + "/" + name, name, size);
}

TEST_F(HttpDownloadTest, CtrlCStopsTheDownloaderAndALaterRunResumes)
{
    const int64_t size = 12000000;
    std::string dest = h.dir / "interrupted.bin";
    ChildProcess first = StartDownloader(h.Url(size, "interrupted.bin", "rate=2000000"), dest);
    ASSERT_GT(first.Pid(), 0);
    ASSERT_TRUE(Eventually([&] { return FileExists(dest + ".info"); }));
    first.Signal(SIGINT);
    EXPECT_EQ(first.Wait(), 130);
    EXPECT_TRUE(FileExists(dest + ".tmp!"));
    std::vector<SegmentInfo> saved;
    EXPECT_TRUE(LoadSideFile(dest + ".info", size, IdentityOf(h.Url(size, "interrupted.bin", "rate=2000000")), saved));
    EXPECT_FALSE(FileExists(dest));

    EXPECT_EQ(StartDownloader(h.Url(size, "interrupted.bin", "rate=2000000"), dest).Wait(), 0);
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
    EXPECT_EQ(StartDownloader(list, out, report, "-i").Wait(), 2);
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
