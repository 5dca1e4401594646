#include <chrono>
#include <clocale>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>

#include "accel/ProcessControl.h"
#include "app/FieldControlApp.h"
#include "framework/WinApp.h"
#include "demo/DemoContent.h"
#include "demo/DemoServices.h"
#include "res/resource.h"
#include "tests/support/GuiTest.h"
#include "tests/support/Eventually.h"
#include "tests/support/SlowResolver.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"
#include "ui/IconButton.h"
#include "ui/MainDlg.h"
#include "ui/PercentBar.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The main window on a program directory of the test's own (with the Caddy
// launcher beside it) against the demo services and content.
class CachingWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MountDemoServices(m_server.Routes());
        MountDemoContent(m_server.Routes());
        m_server.Start();
        // A resource service whose one file arrives slowly, to close the
        // window in the middle of its download.
        std::string slowUrl = m_server.Url("/content/8000000/slow.bin?rate=2000000");
        m_slowList.Routes().Get("/resource/get_list", [slowUrl](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"code":0,"data":[{"url":")" + slowUrl +
                                R"(","name":"slow","type":"video","size":8000000}]})", "application/json");
        });
        m_slowList.Start();
        setenv("QUORVEL_MEETING_HOST", m_server.HostPort().c_str(), 1);
        setenv("QUORVEL_RESOURCE_HOST", m_server.HostPort().c_str(), 1);
        InstallServer(R"(respond 404)");
    }

    void TearDown() override
    {
        m_dialog.DestroyWindow();
        StopServers();
        unsetenv("QUORVEL_MEETING_HOST");
        unsetenv("QUORVEL_RESOURCE_HOST");
    }

    // The launcher of the program directory, with a Caddyfile that answers
    // everything but /assets/ with `fallback`.
    void InstallServer(const std::string& fallback)
    {
        fs::copy_file(fs::path(QUORVEL_PROGRAM_DIR) / "caddy", m_dir / "caddy", fs::copy_options::overwrite_existing);
        std::string caddyfile = ReadWholeFile(std::string(QUORVEL_PROGRAM_DIR) + "/Caddyfile");
        size_t at = caddyfile.find("respond 404");
        ASSERT_NE(at, std::string::npos);
        caddyfile.replace(at, std::strlen("respond 404"), fallback);
        std::ofstream(m_dir / "Caddyfile") << caddyfile;
    }

    // The server the window launched from this test's own program
    // directory (its command line names that directory's Caddyfile), 0
    // when none runs. Any other Caddy on the machine is not this test's.
    pid_t OurServer(const fs::path& dir) const { return FindServerOf(fs::canonical(dir).string()); }
    pid_t OurServer() const { return OurServer(m_dir.Path()); }

    void StopServers()
    {
        for (pid_t pid = OurServer(); pid != 0; pid = OurServer()) {
            kill(pid, SIGKILL);
            std::this_thread::sleep_for(50ms);
        }
    }

    void Open(CMainDlg& dialog)
    {
        dialog.SetProgramPath(m_dir / "quorvel-client");
        dialog.SetCompany("qv-1001");
        ASSERT_TRUE(dialog.Create());
    }

    void Choose(CMainDlg& dialog, long row)
    {
        dialog.GetList(IDC_MEETING_LIST)->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
        dialog.OnMeetingClick();
        ASSERT_TRUE(PumpUntil([&] { return !dialog.IsFetching(); }));
    }

    template <typename Condition>
    bool PumpUntil(Condition condition, std::chrono::seconds limit = 30s)
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            PumpEvents();
            std::this_thread::sleep_for(5ms);
        }
        return condition();
    }

    // Caches the first demo meeting through the window. Its resource of
    // unknown size fails, so the job ends given up, with every other byte
    // in place.
    void CacheFirstMeeting()
    {
        Open(m_dialog);
        Choose(m_dialog, 0);
        m_dialog.SendCommand(IDOK);
        ASSERT_TRUE(PumpUntil([&] { return GivenUp() && m_dialog.GetProgressBar()->GetPos() == 100; }));
    }

    bool GivenUp() { return Label(IDOK) == "开始缓存" && Enabled(IDOK) && Enabled(IDC_ACCELERATE); }

    std::string Cell(long row, int column)
    {
        return m_dialog.GetList(IDC_CONTENT_LIST)->GetItemText(row, column).utf8_string();
    }

    bool Enabled(int id) { return m_dialog.GetDlgItem(id)->IsEnabled(); }
    std::string Label(int id) { return m_dialog.GetDlgItem(id)->GetLabel().utf8_string(); }

    int Probe(std::string* body = nullptr, const std::string& path = "/")
    {
        std::vector<char> answer(1 << 20);
        CHttpRequest request;
        int result = request.Get(("http://127.0.0.1:3000" + path).c_str(), answer.data(), answer.size());
        if (body)
            body->assign(answer.data(), request.m_nLength);
        return result == HTTP_RESULT_OK ? 200 : request.m_nStatusCode.load();
    }

    LoopbackServer m_server;
    LoopbackServer m_slowList;
    TempDir m_dir;
    CMainDlg m_dialog;
    MessageBoxRecorder m_boxes;
};

TEST_F(CachingWindowTest, CachesEveryMissingResourceAndEnablesAcceleration)
{
    CacheFirstMeeting();
    for (long row = 0; row < 4; ++row) {
        EXPECT_EQ(Cell(row, 1), "100%");
        EXPECT_EQ(Cell(row, 2), "缓存完成");
    }
    EXPECT_EQ(Cell(4, 2), "缓存失败") << "the resource of unknown size that is not cached";
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
    setenv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str(), 1);
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
    EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kTimerId), 0);
    struct Cached {
        const char* path;  // in the cache (the query is part of the name)
        const char* name;
        size_t size;
    };
    for (const Cached& c : {Cached{"doc/slow.bin?rate=200000", "slow.bin", 600000},
                            Cached{"doc/slower.bin?rate=150000", "slower.bin", 600000},
                            Cached{"video/big.bin", "big.bin", 1500000}}) {
        std::string expected(c.size, '\0');
        FillContent(c.name, 0, expected.data(), expected.size());
        EXPECT_TRUE(ReadWholeFile(m_dir / (std::string("assets/") + c.path)) == expected) << c.path;
    }
}

// The check posts its updates from the caching thread; a stop made before
// the window applied them must still leave the timer stopped.
TEST_F(CachingWindowTest, StoppingAsTheCheckEndsLeavesTheTimerStopped)
{
    setenv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str(), 1);
    Open(m_dialog);
    Choose(m_dialog, 0);
    for (int round = 0; round < 5; ++round) {
        m_dialog.SendCommand(IDOK);
        // The check ends; its updates wait in the queue, unhandled.
        ASSERT_TRUE(Eventually([&] { return !m_dialog.IsChecking(); })) << "round " << round;
        m_dialog.SendCommand(IDOK);
        PumpEvents();
        EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kTimerId), 0) << "round " << round;
        EXPECT_EQ(Label(IDOK), "开始缓存");
        EXPECT_TRUE(Enabled(IDC_REFRESH));
    }
}

// A double-click on "开始缓存" starts the job and leaves it running.
TEST_F(CachingWindowTest, ADoubleClickOnStartLeavesTheJobRunning)
{
    setenv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str(), 1);
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
    setenv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str(), 1);
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存中"; }));
    m_dialog.SendCommand(IDC_ACCELERATE);
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
    setenv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str(), 1);
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    std::string waiting = "无法连接 127.0.0.1:" + std::to_string(port) + "，稍后重试";
    ASSERT_TRUE(PumpUntil([&] { return Label(IDC_ELAPSED) == waiting; }));
    EXPECT_EQ(Cell(0, 2), "缓存中");
    gone.Release();
    LoopbackServer back(port);
    ASSERT_EQ(back.Port(), port);
    MountDemoContent(back.Routes());
    back.Start();
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存完成"; }, 20s));
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
    EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kTimerId), 0);
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
    EXPECT_EQ(m_dialog.GetProgressBar()->GetPos(), 100);
    EXPECT_EQ(Label(IDC_ELAPSED), "0:00:00");
    EXPECT_TRUE(Enabled(IDC_ACCELERATE));
    EXPECT_TRUE(Enabled(IDC_REFRESH));
    EXPECT_EQ(m_server.RequestCount(), requests + 1) << "only the resource list was asked for";
}

TEST_F(CachingWindowTest, AccelerationServesTheCacheAndStops)
{
    CacheFirstMeeting();
    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_TRUE(m_dialog.IsAccelerating());
    EXPECT_EQ(Label(IDC_ACCELERATE), "停止加速");
    EXPECT_EQ(m_dialog.GetButton(IDC_ACCELERATE)->m_nIconId, unsigned(IDI_ACCEL_RUNNING));
    EXPECT_EQ(Probe(), 404);
    std::string served;
    EXPECT_EQ(Probe(&served, "/assets/image/poster.png"), 200);
    EXPECT_TRUE(served == ReadWholeFile(m_dir / "assets/image/poster.png"));
    EXPECT_EQ(Probe(nullptr, "/Caddyfile"), 404) << "the program's own files are not served";

    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s));
    EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
    EXPECT_EQ(m_dialog.GetButton(IDC_ACCELERATE)->m_nIconId, unsigned(IDI_ACCEL_STOPPED));
    EXPECT_EQ(Label(IDOK), "开始缓存");
    EXPECT_TRUE(Enabled(IDC_REFRESH));
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(CachingWindowTest, AServerAnsweringOtherThan404IsStoppedAndNothingStarts)
{
    InstallServer("respond 200");
    Open(m_dialog);
    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
    EXPECT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s));
    EXPECT_TRUE(m_boxes.boxes.empty()) << "the server was found and stopped";
}

TEST_F(CachingWindowTest, StoppingAServerThatAlreadyEndedShowsBothMessages)
{
    Open(m_dialog);
    m_dialog.SendCommand(IDC_ACCELERATE);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    StopServers();
    ASSERT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s)) << "no zombie keeps the name";
    m_dialog.SendCommand(IDC_ACCELERATE);
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    EXPECT_EQ(m_boxes.boxes[0].text, "stop process: caddy failed with error: 3\n");
    EXPECT_EQ(m_boxes.boxes[1].text, "无法终止加速服务进程！");
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
}

TEST_F(CachingWindowTest, ClosingTheWindowStopsTheServer)
{
    Open(m_dialog);
    m_dialog.SendCommand(IDC_ACCELERATE);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    m_dialog.SendCommand(IDCANCEL);
    EXPECT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s));
    EXPECT_TRUE(m_boxes.boxes.empty());
}

// Closing in the middle of a fetch, a check or a download: no hang, no
// crash, and an interrupted download keeps its files for the next resume.
TEST_F(CachingWindowTest, ClosingMidJobNeverHangsAndKeepsTheResumeFiles)
{
    setenv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str(), 1);
    // The URL's query stays in the file name, as the cache layout has it.
    const std::string slow = m_dir / "assets/video/slow.bin?rate=2000000";
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

// A venue whose name lookups take seconds: closing the window during the
// resource list's lookup, and stopping the job or closing during a
// download's lookup, return at once instead of waiting for the resolver.
TEST_F(CachingWindowTest, StoppingAndClosingNeverWaitForASlowNameLookup)
{
    SetSlowLookupMs(6000);
    LoopbackServer list;
    std::string url = SlowHostUrl(m_server.Port(), "/content/300000/dns.bin");
    list.Routes().Get("/resource/get_list", [url](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"code":0,"data":[{"url":")" + url + R"(","name":"dns","type":"doc","size":300000}]})",
                        "application/json");
    });
    list.Start();
    auto quick = [&](const char* what, const std::function<void()>& action) {
        auto began = std::chrono::steady_clock::now();
        action();
        EXPECT_LT(std::chrono::steady_clock::now() - began, 3s) << what << " waited for the resolver";
    };
    {
        CMainDlg dialog;
        dialog.SetProgramPath(m_dir / "quorvel-client");
        dialog.SetCompany("qv-1001");
        setenv("QUORVEL_RESOURCE_HOST", ("list.slow.test:" + std::to_string(list.Port())).c_str(), 1);
        RunModal(dialog, [&] {
            int lookups = SlowLookupsBegun();
            dialog.GetList(IDC_MEETING_LIST)->SetItemState(0, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
            dialog.OnMeetingClick();
            EXPECT_TRUE(PumpUntil([&] { return SlowLookupsBegun() > lookups; }));
            quick("closing during the list's lookup", [&] { dialog.SendCommand(IDCANCEL); });
        });
    }
    setenv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str(), 1);
    Open(m_dialog);
    Choose(m_dialog, 0);
    int lookups = SlowLookupsBegun();
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存中" && SlowLookupsBegun() > lookups; }));
    quick("stopping the job", [&] { m_dialog.SendCommand(IDOK); });
    lookups = SlowLookupsBegun();
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存中" && SlowLookupsBegun() > lookups; }));
    quick("closing during the download's lookup", [&] { m_dialog.SendCommand(IDCANCEL); });
}

// The acceleration server on an ordinary desktop: other Caddy processes,
// other programs on port 3000, any program directory, signals.
class AccelerationTest : public CachingWindowTest {
protected:
    static constexpr const char* kPortMessage = "端口3000已被其他程序占用，无法启动加速服务！";

    // Starts on a port of its own before the client's server, so it comes
    // first in the process list.
    static pid_t StartDecoy()
    {
        RefusingPort free;
        free.Release();  // for the decoy to take
        std::string listen = free.HostPort();
        const char* argv[] = {"/usr/bin/caddy", "respond", "--listen", listen.c_str(), nullptr};
        pid_t pid = 0;
        posix_spawn(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ);
        return pid;
    }

    static bool Alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

    void ExpectPortMessageAndNothingRuns()
    {
        EXPECT_FALSE(m_dialog.IsAccelerating());
        EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
        ASSERT_EQ(m_boxes.boxes.size(), 1u);
        EXPECT_EQ(m_boxes.boxes[0].text, kPortMessage);
        EXPECT_TRUE(PumpUntil([&] { return OurServer(m_dir.Path()) == 0; }, 5s));
    }
};

TEST_F(AccelerationTest, AnotherCaddySurvivesStartStopAndClose)
{
    pid_t decoy = StartDecoy();
    ASSERT_GT(decoy, 0);
    Open(m_dialog);
    m_dialog.SendCommand(IDC_ACCELERATE);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_EQ(OurServer(m_dir.Path()), 0) << "our own server stopped";
    EXPECT_TRUE(Alive(decoy));
    EXPECT_TRUE(m_boxes.boxes.empty());
    m_dialog.SendCommand(IDC_ACCELERATE);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    m_dialog.SendCommand(IDCANCEL);
    EXPECT_EQ(OurServer(m_dir.Path()), 0);
    EXPECT_TRUE(Alive(decoy));
    kill(decoy, SIGKILL);
    waitpid(decoy, nullptr, 0);
}

TEST_F(AccelerationTest, AListenerOnThePortThatNeverAnswersFailsTheStartInSeconds)
{
    SilentListener holder(3000);
    ASSERT_EQ(holder.Port(), 3000);
    Open(m_dialog);
    auto start = std::chrono::steady_clock::now();
    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 7s);
    ExpectPortMessageAndNothingRuns();
}

TEST_F(AccelerationTest, AnotherProgramAnswering404OnThePortIsNotTakenForOurServer)
{
    LoopbackServer other(3000);
    ASSERT_EQ(other.Port(), 3000);
    other.Routes().Get("/", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
    other.Start();
    Open(m_dialog);
    m_dialog.SendCommand(IDC_ACCELERATE);
    ExpectPortMessageAndNothingRuns();
}

// Installed where the path has a space, a quote and braces.
TEST_F(AccelerationTest, AnInstalledClientServesItsCacheFromAnyDirectory)
{
    fs::path prefix = fs::path(m_dir.Path()) / "Program Files \"q\" {x}";
    std::string install = "cmake --install '" QUORVEL_BUILD_DIR "' --prefix '" + prefix.string() + "' >/dev/null";
    ASSERT_EQ(std::system(install.c_str()), 0);
    fs::path program = prefix / "lib/quorvel-client";
    fs::create_directories(program / "assets/doc");
    std::ofstream(program / "assets/doc/a b.txt") << "served from anywhere";
    CMainDlg dialog;
    dialog.SetProgramPath(program / "quorvel-client");
    dialog.SetCompany("qv-1001");
    ASSERT_TRUE(dialog.Create());
    dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_TRUE(dialog.IsAccelerating());
    std::string served;
    EXPECT_EQ(Probe(&served, "/assets/doc/a%20b.txt"), 200);
    EXPECT_EQ(served, "served from anywhere");
    dialog.SendCommand(IDCANCEL);
    EXPECT_EQ(OurServer(program), 0);
}

// SIGTERM (logging out) takes the window's close steps: the server stops.
TEST_F(AccelerationTest, ATerminationSignalClosesTheWindowAndItsServer)
{
    InstallExitSignalHandlers();
    CMainDlg dialog;
    dialog.SetProgramPath(m_dir / "quorvel-client");
    dialog.SetCompany("qv-1001");
    int result = RunModal(dialog, [&] {
        dialog.SendCommand(IDC_ACCELERATE);
        ASSERT_TRUE(dialog.IsAccelerating());
        kill(getpid(), SIGTERM);
        PumpUntil([&] { return !dialog.GetWindow()->IsModal(); }, 5s);
    });
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        wxTheApp->SetSignalHandler(signal, SIG_DFL);
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(AfxExitSignal(), SIGTERM);
    EXPECT_EQ(OurServer(m_dir.Path()), 0);
}

TEST_F(AccelerationTest, AMeetingClickWhileServingKeepsTheServerStoppableAndTicksRun)
{
    setenv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str(), 1);
    Open(m_dialog);
    m_dialog.SendCommand(IDC_ACCELERATE);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    Choose(m_dialog, 1);
    EXPECT_TRUE(Enabled(IDC_ACCELERATE));
    EXPECT_EQ(Label(IDC_ACCELERATE), "停止加速");

    // A caching job while the server runs shows its progress.
    m_dialog.SendCommand(IDOK);
    bool progressTimer = false;  // seen while the download ran (it may end soon after)
    ASSERT_TRUE(PumpUntil([&] {
        progressTimer = progressTimer || m_dialog.TimerInterval(CMainDlg::kTimerId) == 1000;
        return !Cell(0, 1).empty() && Cell(0, 1) != "0%";
    }, 10s));
    EXPECT_TRUE(progressTimer);
    m_dialog.SendCommand(IDOK);

    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_EQ(OurServer(m_dir.Path()), 0);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

// Under a UTF-8 locale the cache's names are UTF-8, as the screens' URLs.
TEST_F(AccelerationTest, ChineseNamesAreServedAtTheirUtf8Urls)
{
    std::string saved = std::setlocale(LC_ALL, nullptr);
    ASSERT_TRUE(std::setlocale(LC_ALL, "C.UTF-8"));
    LoopbackServer list;
    std::string url = m_server.Url("/content/5000/开场视频.mp4");
    list.Routes().Get("/resource/get_list", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"code":0,"data":[{"url":")" + url +
                            R"(","name":"开场视频","type":"视频","module":"开场","size":5000}]})", "application/json");
    });
    list.Start();
    setenv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str(), 1);
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存完成"; }));
    m_dialog.SendCommand(IDC_ACCELERATE);
    std::string served;
    EXPECT_EQ(Probe(&served, "/assets/%E8%A7%86%E9%A2%91/%E5%BC%80%E5%9C%BA/%E5%BC%80%E5%9C%BA%E8%A7%86%E9%A2%91.mp4"),
              200);
    std::string expected(5000, '\0');
    FillContent("开场视频.mp4", 0, expected.data(), expected.size());
    EXPECT_TRUE(served == expected);
    std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
