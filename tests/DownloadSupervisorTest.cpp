#include <gtest/gtest.h>

#include "net/DownloadNotify.h"
#include "tools/DownloadSupervisor.h"
#include "tools/ProgressLine.h"

using Action = DownloadSupervisor::Action;

// Each restart counts from 0 and reads back the 5000 bytes its side file
// holds: no progress, however often.
TEST(DownloadSupervisor, GivesUpAfterThreeRestartsWithoutProgress)
{
    DownloadSupervisor s(0);
    EXPECT_EQ(s.OnTick(5000, 1), Action::Wait);
    for (int restart = 1; restart <= 3; ++restart) {
        EXPECT_EQ(s.OnEngineState(DOWNLOAD_FAILED, 5000, 2 * restart), Action::Restart);
        EXPECT_EQ(s.OnTick(0, 2 * restart), Action::Wait);
        EXPECT_EQ(s.OnTick(5000, 2 * restart + 1), Action::Wait);
    }
    EXPECT_EQ(s.OnEngineState(DOWNLOAD_FAILED, 5000, 8), Action::GiveUp);
}

TEST(DownloadSupervisor, ProgressBetweenFailuresStartsTheCountAgain)
{
    DownloadSupervisor s(0);
    int64_t bytes = 0;
    for (int i = 0; i < 10; ++i) {
        bytes += 1000;
        EXPECT_EQ(s.OnTick(bytes, i), Action::Wait);
        EXPECT_EQ(s.OnEngineState(DOWNLOAD_FAILED, bytes, i), Action::Restart);
    }
    EXPECT_EQ(s.OnEngineState(DOWNLOAD_FINISHED, bytes, 11), Action::Done);
}

TEST(DownloadSupervisor, RestartsADownloadStalledForMoreThanTenSeconds)
{
    DownloadSupervisor s(100);
    EXPECT_EQ(s.OnTick(5000, 100), Action::Wait);
    EXPECT_EQ(s.OnTick(5000, 110), Action::Wait);
    EXPECT_EQ(s.OnTick(5000, 111), Action::Restart);
    EXPECT_EQ(s.OnTick(5000, 121), Action::Wait) << "the restart counts as a change";
    EXPECT_EQ(s.OnTick(6000, 125), Action::Wait);
}

TEST(DownloadSupervisor, AFileBeingFinishedIsNeverTakenForAStall)
{
    DownloadSupervisor s(100);
    EXPECT_EQ(s.OnTick(5000, 100), Action::Wait);
    EXPECT_EQ(s.OnTick(5000, 130, true), Action::Wait) << "the final sync of a large file";
    EXPECT_EQ(s.OnTick(5000, 141), Action::Restart) << "the ten seconds count from the sync's end";
}

// The rate is this run's: bytes found on disk at the start are no part of
// it, and a stall shows 0 once the window has passed.
TEST(ProgressLine, TheRateCountsOnlyThisRunAndFallsToZeroInAStall)
{
    ProgressLine line;
    line.Sample(0, 0, 0);                      // size not known yet
    EXPECT_EQ(line.Text(), "waiting for the server's answer");
    line.Sample(50000000, 100000000, 1);       // resumed: 50 MB were on disk
    line.Sample(51000000, 100000000, 2);
    EXPECT_DOUBLE_EQ(line.Rate(), 1000000);
    EXPECT_EQ(line.Text(), "48.6 MiB / 95.4 MiB   51%  976.6 KiB/s  ETA 0:49");
    for (int t = 3; t <= 8; ++t)
        line.Sample(51000000, 100000000, t);
    EXPECT_EQ(line.Rate(), 0);
    EXPECT_NE(line.Text().find("ETA --:--"), std::string::npos);
    line.Sample(0, 0, 9);                      // restarted
    line.Sample(51000000, 100000000, 10);
    EXPECT_EQ(line.Rate(), 0);
}
