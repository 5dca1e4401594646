// The main window caching a meeting: rows in flight, stops and restarts,
// outages, closing mid-job, and slow name lookups.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <wx/dialog.h>
#include <wx/listctrl.h>

#include "app/FieldControlApp.h"
#include "demo/DemoContent.h"
#include "demo/DemoServices.h"
#include "res/resource.h"
#include "tests/support/CachingWindowFixture.h"
#include "tests/support/GuiTest.h"
#include "tests/support/Eventually.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"
#include "ui/IconButton.h"
#include "ui/MainDlg.h"
#include "ui/PercentBar.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST_F(CachingWindowTest, CachesEveryMissingResourceAndEnablesAcceleration)
{
    CacheFirstMeeting();
    for (long row = 0; row < 4; ++row) {
        EXPECT_EQ(Cell(row, 1), "100%");
        EXPECT_EQ(Cell(row, 2), "缓存完成");
    }
    EXPECT_EQ(Cell(4, 2), "缓存失败") << "the resource of unknown size that is not cached";
    EXPECT_EQ(RowToolTip(4), "大小未知，缓存中也没有");
    EXPECT_EQ(RowToolTip(3), "");
    EXPECT_NE(Label(IDC_ELAPSED).find("\n1 项失败"), std::string::npos) << Label(IDC_ELAPSED);
    EXPECT_TRUE(Enabled(IDOK)) << "a failed row: never complete";
    EXPECT_TRUE(Enabled(IDC_ACCELERATE));
    std::string poster = ReadWholeFile(m_dir / "assets/image/poster.png");
    std::string expected(262144, '\0');
    FillContent("m-2001/poster.png", 0, expected.data(), expected.size());
    EXPECT_TRUE(poster == expected);
}

// A resource that is gone (404) before good ones: the rows go side by
// side, a stop in the middle says which were downloading, and after a new
// start the good ones are cached while the bad one fails; the job ends
// with the bad row failed, and what is cached can be served.
TEST_F(CachingWindowTest, SeveralRowsInFlightStopStartAndEndWithTheMissingOneFailed)
{
    LoopbackServer list;
    std::string gone = m_server.Url("/content/1000/gone.bin?status=404");
    std::string slow = m_server.Url("/content/600000/slow.bin?rate=200000");
    std::string slower = m_server.Url("/content/600000/slower.bin?rate=150000");
    std::string big = m_server.Url("/content/1500000/big.bin");
    list.Routes().Get("/resource/get_list", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"code":0,"data":[{"url":")" + gone + R"(","name":"gone.bin","type":"doc","size":1000},
            {"url":")" + slow + R"(","name":"slow.bin","type":"doc","size":600000},
            {"url":")" + slower + R"(","name":"slower.bin","type":"doc","size":600000},
            {"url":")" + big + R"(","name":"big.bin","type":"video","size":1500000}]})", "application/json");
    });
    list.Start();
    SetEnv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str());
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(1, 2) == "缓存中" && Cell(2, 2) == "缓存中" && Cell(1, 1) != ""; }));
    m_dialog.SendCommand(IDOK);
    EXPECT_EQ(Cell(1, 2), "缓存停止");
    EXPECT_EQ(Cell(2, 2), "缓存停止");
    EXPECT_EQ(Label(IDOK), "开始缓存");

    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Label(IDOK) == "开始缓存" && Enabled(IDC_ACCELERATE); }, 60s));
    EXPECT_EQ(Cell(0, 2), "缓存失败");
    for (long row = 1; row < 4; ++row)
        EXPECT_EQ(Cell(row, 2), "缓存完成") << "row " << row;
    EXPECT_TRUE(Enabled(IDOK));
    EXPECT_TRUE(Enabled(IDC_REFRESH));
    EXPECT_TRUE(Enabled(IDC_MEETING_LIST));
    EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kProgressTimerId), 0);
    struct Cached {
        const char* type;
        std::string url;
        const char* name;
        size_t size;
    };
    for (const Cached& c : {Cached{"doc", slow, "slow.bin", 600000}, Cached{"doc", slower, "slower.bin", 600000},
                            Cached{"video", big, "big.bin", 1500000}}) {
        std::string expected(c.size, '\0');
        FillContent(c.name, 0, expected.data(), expected.size());
        EXPECT_TRUE(ReadWholeFile(CachePath(c.type, c.url)) == expected) << c.url;
    }
}

// The check posts its updates from the caching thread; a stop made before
// the window applied them must still leave the timer stopped.
TEST_F(CachingWindowTest, StoppingAsTheCheckEndsLeavesTheTimerStopped)
{
    SetEnv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str());
    Open(m_dialog);
    Choose(m_dialog, 0);
    for (int round = 0; round < 5; ++round) {
        m_dialog.SendCommand(IDOK);
        // The check ends; its updates wait in the queue, unhandled.
        ASSERT_TRUE(Eventually([&] { return !m_dialog.IsChecking(); })) << "round " << round;
        m_dialog.SendCommand(IDOK);
        PumpEvents();
        EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kProgressTimerId), 0) << "round " << round;
        EXPECT_EQ(Label(IDOK), "开始缓存");
        EXPECT_TRUE(Enabled(IDC_REFRESH));
    }
}

// A double-click on "开始缓存" starts the job and leaves it running.
TEST_F(CachingWindowTest, ADoubleClickOnStartLeavesTheJobRunning)
{
    SetEnv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str());
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.GetWindow()->Show();  // a hidden window cannot hold the mouse
    PumpEvents();
    CIconButton* start = m_dialog.GetButton(IDOK);
    for (wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK, wxEVT_LEFT_UP}) {
        wxMouseEvent event(type);
        event.SetPosition(wxPoint(5, 5));
        event.SetEventObject(start);
        start->GetEventHandler()->ProcessEvent(event);
    }
    EXPECT_EQ(Label(IDOK), "停止缓存");
    EXPECT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存中"; }));
    m_dialog.SendCommand(IDOK);
}

// Stopping acceleration while a download runs leaves the lists off: a
// click on a meeting would pull the rows from under the job.
TEST_F(CachingWindowTest, StoppingAccelerationMidJobLeavesTheListsToTheJob)
{
    // Slow enough to outlast a server start on a loaded machine (the job is
    // stopped at the end).
    LoopbackServer list;
    std::string url = m_server.Url("/content/8000000/slowest.bin?rate=250000");
    list.Routes().Get("/resource/get_list", [url](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"code":0,"data":[{"url":")" + url +
                            R"(","name":"slowest","type":"video","size":8000000}]})", "application/json");
    });
    list.Start();
    SetEnv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str());
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存中"; }));
    StartServer(m_dialog);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_FALSE(Enabled(IDC_REFRESH));
    EXPECT_FALSE(Enabled(IDC_MEETING_LIST));
    EXPECT_EQ(Label(IDOK), "停止缓存");
    m_dialog.SendCommand(IDOK);
    EXPECT_TRUE(Enabled(IDC_MEETING_LIST));
    EXPECT_EQ(Cell(0, 2), "缓存停止");
}

// The content host is down: the row waits for its next attempt and the
// figures line says which host cannot be reached; once it is back, the
// row is cached.
TEST_F(CachingWindowTest, AnOutageIsSaidOnTheFiguresLineAndRiddenOut)
{
    RefusingPort gone;
    int port = gone.Port();
    LoopbackServer list;
    std::string url = "http://127.0.0.1:" + std::to_string(port) + "/content/5000/back.bin";
    list.Routes().Get("/resource/get_list", [url](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"code":0,"data":[{"url":")" + url + R"(","name":"back","type":"doc","size":5000}]})",
                        "application/json");
    });
    list.Start();
    SetEnv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str());
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    std::string waiting = "无法连接 127.0.0.1:" + std::to_string(port) + "，稍后重试";
    ASSERT_TRUE(PumpUntil([&] { return Label(IDC_WAITING) == waiting; }));
    wxWindow* line = m_dialog.GetDlgItem(IDC_WAITING);
    EXPECT_TRUE(line->IsShown());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_ELAPSED)->IsShown());
    EXPECT_LE(line->GetTextExtent(line->GetLabel()).x, line->GetSize().x) << "cut off";
    EXPECT_EQ(Cell(0, 2), "缓存中");
    gone.Release();
    LoopbackServer back(port);
    ASSERT_EQ(back.Port(), port);
    MountDemoContent(back.Routes());
    back.Start();
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存完成"; }, 20s));
    EXPECT_FALSE(line->IsShown()) << "the figures are back";
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_ELAPSED)->IsShown());
}

// Installed where the operator cannot write: said at the first attempt,
// in a box captioned with the application's name.
TEST_F(CachingWindowTest, ACacheThatCannotBeWrittenIsSaidAtOnce)
{
    CFieldControlApp app;  // as the program runs it
    std::ofstream(m_dir / "assets") << "a file where the cache should be";
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    ASSERT_EQ(m_boxes.boxes.size(), 1u);
    EXPECT_EQ(m_boxes.boxes[0].caption, "Quorvel加速场控");
    EXPECT_EQ(m_boxes.boxes[0].text.rfind("无法写入缓存目录 " + m_dir / "assets", 0), 0u) << m_boxes.boxes[0].text;
    EXPECT_EQ(Label(IDOK), "开始缓存");
    EXPECT_TRUE(Enabled(IDC_REFRESH));
    EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kProgressTimerId), 0);
    EXPECT_EQ(Cell(0, 2), "缓存未开始");
}

TEST_F(CachingWindowTest, AMeetingAlreadyInTheCacheEndsAtOnceWithoutADownload)
{
    CacheFirstMeeting();
    size_t requests = m_server.RequestCount();
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存完成" && GivenUp(); }));
    EXPECT_EQ(Cell(0, 2), "缓存完成");
    EXPECT_EQ(Cell(0, 1), "100%");
    EXPECT_EQ(m_dialog.GetProgressBar()->GetPos(), 99) << "every byte with a size, but a row failed";
    // At once: within the second it began, or the next one's start; the
    // row of unknown size failed again.
    EXPECT_TRUE(Label(IDC_ELAPSED) == "0:00:00\n1 项失败" || Label(IDC_ELAPSED) == "0:00:01\n1 项失败")
        << Label(IDC_ELAPSED);
    EXPECT_TRUE(Enabled(IDC_ACCELERATE));
    EXPECT_TRUE(Enabled(IDC_REFRESH));
    EXPECT_EQ(m_server.RequestCount(), requests + 1) << "only the resource list was asked for";
}

// Closing in the middle of a fetch, a check or a download: no hang, no
// crash, and an interrupted download keeps its files for the next resume.
TEST_F(CachingWindowTest, ClosingMidJobNeverHangsAndKeepsTheResumeFiles)
{
    SetEnv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str());
    const std::string slow = CachePath("video", m_slowUrl);
    bool sawResumeFiles = false;
    for (int round = 0; round < 12; ++round) {
        CMainDlg dialog;
        dialog.SetProgramPath(m_dir / "quorvel-client");
        dialog.SetCompany("qv-1001");
        int result = RunModal(dialog, [&] {
            if (round % 3 == 0) {  // during the fetch
                dialog.GetList(IDC_MEETING_LIST)->SetItemState(1, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
                dialog.OnMeetingClick();
            } else {               // during the check or the download
                Choose(dialog, 1);
                dialog.SendCommand(IDOK);
                std::this_thread::sleep_for(std::chrono::milliseconds(round * 20));
                PumpEvents();
            }
            dialog.SendCommand(IDCANCEL);
        });
        EXPECT_EQ(result, IDCANCEL);
        PumpEvents();
        sawResumeFiles |= fs::exists(slow + ".tmp!") && fs::exists(slow + ".info");
    }
    EXPECT_TRUE(sawResumeFiles);
    // Whatever the closes left resumes to the whole file, byte-exact.
    Open(m_dialog);
    Choose(m_dialog, 1);
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return fs::exists(slow); }, 60s));
    std::string expected(8000000, '\0');
    FillContent("slow.bin", 0, expected.data(), expected.size());
    EXPECT_TRUE(ReadWholeFile(slow) == expected);
}

}  // namespace
