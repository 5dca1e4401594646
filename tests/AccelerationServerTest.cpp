// The local web server from the main window: started on the cache, stopped,
// found again, and never confused with other programs on the desktop.
#include <chrono>
#include <csignal>
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
#include "tests/support/CachingWindowFixture.h"
#include "tests/support/Environment.h"
#include "tests/support/GuiSystem.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LoopbackServer.h"
#include "ui/IconButton.h"
#include "ui/MainDlg.h"
#include "ui/PercentBar.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// The acceleration server on an ordinary desktop: other Caddy processes,
// other programs on port 3000, any program directory, signals.
class AccelerationTest : public CachingWindowTest {
protected:
    static constexpr const char* kPortMessage = "端口3000已被其他程序占用，无法启动加速服务！";

    // Another Caddy, of another directory, on a port of its own: started
    // before the client's server, so it comes first in the process list.
    void StartDecoy(CServerProcess& decoy)
    {
        RefusingPort free;
        free.Release();  // for the decoy to take
        fs::copy_file(fs::path(QUORVEL_PROGRAM_DIR) / AccelerationServerName(), m_decoyDir / AccelerationServerName());
        std::ofstream(m_decoyDir / "Caddyfile") << "{\n\tadmin off\n\tauto_https off\n}\n:" << free.Port()
                                                << " {\n\tbind 127.0.0.1\n\trespond 404\n}\n";
        m_programDirs.push_back(m_decoyDir.Path());
        // Wine on a busy machine now and then fails a process start with
        // ERROR_INTERNAL_ERROR (the child died before it ran): try again.
        int error = -1;
        for (int attempt = 0; attempt < 3 && error != 0; ++attempt)
            error = decoy.Launch(fs::canonical(m_decoyDir.Path()).generic_string(), {});
        ASSERT_EQ(error, 0);
    }

    TempDir m_decoyDir;

    void ExpectPortMessageAndNothingRuns()
    {
        EXPECT_FALSE(m_dialog.IsAccelerating());
        EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
        ASSERT_EQ(m_boxes.boxes.size(), 1u);
        EXPECT_EQ(m_boxes.boxes[0].text, kPortMessage);
        EXPECT_TRUE(PumpUntil([&] { return OurServer(m_dir.Path()) == 0; }, 5s));
    }
};

TEST_F(AccelerationTest, AccelerationServesTheCacheAndStops)
{
    CacheFirstMeeting();
    StartServer(m_dialog);
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

TEST_F(AccelerationTest, AServerAnsweringOtherThan404IsStoppedAndNothingStarts)
{
    InstallServer("respond 200");
    Open(m_dialog);
    StartServer(m_dialog);
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
    EXPECT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s));
    EXPECT_TRUE(m_boxes.boxes.empty()) << "the server was found and stopped";
}

TEST_F(AccelerationTest, StoppingAServerThatAlreadyEndedShowsBothMessages)
{
    Open(m_dialog);
    StartServer(m_dialog);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    StopServers();
    ASSERT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s)) << "no zombie keeps the name";
    m_dialog.SendCommand(IDC_ACCELERATE);
    ASSERT_EQ(m_boxes.boxes.size(), 2u);
    // The system's code for a process that is no more (ESRCH; Windows:
    // ERROR_INVALID_PARAMETER, as OpenProcess gives it).
    EXPECT_EQ(m_boxes.boxes[0].text, std::string("stop process: ") + AccelerationServerName() +
                                         " failed with error: " + std::to_string(KillProcess(0)) + "\n");
    EXPECT_EQ(m_boxes.boxes[1].text, "无法终止加速服务进程！");
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
}

TEST_F(AccelerationTest, ClosingTheWindowStopsTheServer)
{
    Open(m_dialog);
    StartServer(m_dialog);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    m_dialog.SendCommand(IDCANCEL);
    EXPECT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s));
    EXPECT_TRUE(m_boxes.boxes.empty());
}

TEST_F(AccelerationTest, AnotherCaddySurvivesStartStopAndClose)
{
    CServerProcess decoy;
    ASSERT_NO_FATAL_FAILURE(StartDecoy(decoy));
    Open(m_dialog);
    StartServer(m_dialog);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_EQ(OurServer(m_dir.Path()), 0) << "our own server stopped";
    EXPECT_TRUE(decoy.Running());
    EXPECT_TRUE(m_boxes.boxes.empty());
    StartServer(m_dialog);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    m_dialog.SendCommand(IDCANCEL);
    EXPECT_EQ(OurServer(m_dir.Path()), 0);
    EXPECT_TRUE(decoy.Running());
    decoy.Kill();
}

TEST_F(AccelerationTest, AListenerOnThePortThatNeverAnswersFailsTheStartInSeconds)
{
    SilentListener holder(3000);
    ASSERT_EQ(holder.Port(), 3000);
    Open(m_dialog);
    auto start = std::chrono::steady_clock::now();
    StartServer(m_dialog);
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
    StartServer(m_dialog);
    ExpectPortMessageAndNothingRuns();
}

// Installed where the path has a space, a quote and braces.
TEST_F(AccelerationTest, AnInstalledClientServesItsCacheFromAnyDirectory)
{
    fs::path program = InstallClientUnder(m_dir.Path());
    ASSERT_FALSE(program.empty());
    m_programDirs.push_back(program);
    fs::create_directories(program / "assets/doc");
    std::ofstream(program / "assets/doc/a b.txt") << "served from anywhere";
    CMainDlg dialog;
    dialog.SetProgramPath((program / "quorvel-client").generic_string());
    dialog.SetCompany("qv-1001");
    ASSERT_TRUE(dialog.Create());
    StartServer(dialog);
    EXPECT_TRUE(dialog.IsAccelerating());
    std::string served;
    EXPECT_EQ(Probe(&served, "/assets/doc/a%20b.txt"), 200);
    EXPECT_EQ(served, "served from anywhere");
    dialog.SendCommand(IDCANCEL);
    EXPECT_EQ(OurServer(program), 0);
}

// The end of the session (logging out; POSIX: SIGTERM) takes the window's
// close steps: the server stops.
TEST_F(AccelerationTest, ATerminationSignalClosesTheWindowAndItsServer)
{
    InstallExitSignalHandlers();
    CMainDlg dialog;
    dialog.SetProgramPath(m_dir / "quorvel-client");
    dialog.SetCompany("qv-1001");
    int result = RunModal(dialog, [&] {
        StartServer(dialog);
        ASSERT_TRUE(dialog.IsAccelerating());
        AskThisProgramToEnd();
        PumpUntil([&] { return !dialog.GetWindow()->IsShown(); }, 5s);  // ended (wxMSW: modal till it returns)
    });
    StopWatchingSessionEnd();
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(AfxExitSignal(), SIGTERM);
    EXPECT_EQ(OurServer(m_dir.Path()), 0);
}

TEST_F(AccelerationTest, AMeetingClickWhileServingKeepsTheServerStoppableAndTicksRun)
{
    SetEnv("QUORVEL_RESOURCE_HOST", m_slowList.HostPort().c_str());
    Open(m_dialog);
    StartServer(m_dialog);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    Choose(m_dialog, 1);
    EXPECT_TRUE(Enabled(IDC_ACCELERATE));
    EXPECT_EQ(Label(IDC_ACCELERATE), "停止加速");

    // A caching job while the server runs shows its progress.
    m_dialog.SendCommand(IDOK);
    bool progressTimer = false;  // seen while the download ran (it may end soon after)
    ASSERT_TRUE(PumpUntil([&] {
        progressTimer = progressTimer || m_dialog.TimerInterval(CMainDlg::kProgressTimerId) == 1000;
        return !Cell(0, 1).empty() && Cell(0, 1) != "0%";
    }, 10s));
    EXPECT_TRUE(progressTimer);
    m_dialog.SendCommand(IDOK);

    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_EQ(OurServer(m_dir.Path()), 0);
    EXPECT_TRUE(m_boxes.boxes.empty());
}

// Where the cache's names are UTF-8 (POSIX: under a UTF-8 locale; Windows:
// always), they are served at their UTF-8 URLs, as the screens ask.
TEST_F(AccelerationTest, ChineseNamesAreServedAtTheirUtf8Urls)
{
    Utf8FileNames names;
    ASSERT_TRUE(names.ok());
    LoopbackServer list;
    std::string url = m_server.Url("/content/5000/开场视频.mp4");
    list.Routes().Get("/resource/get_list", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"code":0,"data":[{"url":")" + url +
                            R"(","name":"开场视频","type":"视频","module":"开场","size":5000}]})", "application/json");
    });
    list.Start();
    SetEnv("QUORVEL_RESOURCE_HOST", list.HostPort().c_str());
    Open(m_dialog);
    Choose(m_dialog, 0);
    m_dialog.SendCommand(IDOK);
    ASSERT_TRUE(PumpUntil([&] { return Cell(0, 2) == "缓存完成"; }));
    StartServer(m_dialog);
    std::string served;
    EXPECT_EQ(Probe(&served, "/assets/%E8%A7%86%E9%A2%91/%E5%BC%80%E5%9C%BA/%E5%BC%80%E5%9C%BA%E8%A7%86%E9%A2%91.mp4"),
              200);
    std::string expected(5000, '\0');
    FillContent("开场视频.mp4", 0, expected.data(), expected.size());
    EXPECT_TRUE(served == expected);
}

// The start runs off the UI thread: the click returns at once and the
// button says the server is starting; closing the window meanwhile returns
// at once and leaves no server. This server takes the probe's connection
// and never answers (it hands "/" to a silent upstream).
TEST_F(AccelerationTest, ClosingWhileTheServerStartsReturnsAtOnceAndLeavesNoServer)
{
    SilentListener upstream;
    InstallServer("reverse_proxy " + upstream.HostPort());
    Open(m_dialog);
    auto start = std::chrono::steady_clock::now();
    m_dialog.SendCommand(IDC_ACCELERATE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "the click waits for no probe";
    EXPECT_EQ(Label(IDC_ACCELERATE), "启动中…");
    EXPECT_FALSE(Enabled(IDC_ACCELERATE));
    ASSERT_TRUE(PumpUntil([&] { return upstream.Connections() > 0 && OurServer() != 0; }, 5s));
    start = std::chrono::steady_clock::now();
    m_dialog.SendCommand(IDCANCEL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    EXPECT_EQ(OurServer(), 0);
    PumpEvents();
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_TRUE(m_boxes.boxes.empty());
}

// A server that ends by itself is noticed on the server's tick: the
// window is back to "启动加速", without a box, and can start a new one.
TEST_F(AccelerationTest, AServerThatEndsByItselfIsNoticedOnTheServerTick)
{
    Open(m_dialog);
    StartServer(m_dialog);
    ASSERT_TRUE(m_dialog.IsAccelerating());
    EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kServerTimerId), 20000);
    StopServers();
    ASSERT_TRUE(PumpUntil([&] { return OurServer() == 0; }, 5s));
    m_dialog.OnTimer(CMainDlg::kServerTimerId);
    EXPECT_FALSE(m_dialog.IsAccelerating());
    EXPECT_EQ(Label(IDC_ACCELERATE), "启动加速");
    EXPECT_EQ(m_dialog.GetButton(IDC_ACCELERATE)->m_nIconId, unsigned(IDI_ACCEL_STOPPED));
    EXPECT_EQ(m_dialog.TimerInterval(CMainDlg::kServerTimerId), 0);
    EXPECT_TRUE(m_boxes.boxes.empty());
    StartServer(m_dialog);
    EXPECT_TRUE(m_dialog.IsAccelerating());
}

// A start that fails says why in one box, and nothing runs afterwards.
TEST_F(AccelerationTest, AFailedStartSaysWhy)
{
    enum class Program { Missing, Server, ExitsWith7 };
    struct Case {
        const char* name;
        Program program;        // in the place of the server's
        const char* caddyfile;  // replaces the Caddyfile when given
        const char* message;    // "%s": the program directory, "%n" the server's name
    } cases[] = {
        {"missing program", Program::Missing, nullptr, "找不到加速服务程序 %s/%n，无法启动加速服务！"},
        {"refused configuration", Program::Server, ":3000 {\n\tno_such_directive\n}\n",
         "加速服务拒绝了它的配置 %s/Caddyfile，无法启动加速服务！"},
        {"exit status", Program::ExitsWith7, nullptr, "加速服务启动后退出，退出状态 7，无法启动加速服务！"},
    };
    std::string dir = fs::canonical(m_dir.Path()).generic_string();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        InstallServer("respond 404");
        fs::path server = m_dir / AccelerationServerName();
        if (c.program == Program::Missing)
            fs::remove(server);
        else if (c.program == Program::ExitsWith7)
            fs::copy_file(QUORVEL_EXITS_WITH_7, server, fs::copy_options::overwrite_existing);
        if (c.caddyfile)
            std::ofstream(m_dir / "Caddyfile", std::ios::trunc) << c.caddyfile;
        m_boxes.boxes.clear();
        CMainDlg dialog;
        Open(dialog);
        StartServer(dialog);
        EXPECT_FALSE(dialog.IsAccelerating());
        EXPECT_EQ(dialog.GetDlgItem(IDC_ACCELERATE)->GetLabel().utf8_string(), "启动加速");
        std::string expected = c.message;
        if (size_t at = expected.find("%s"); at != std::string::npos)
            expected.replace(at, 2, dir);
        if (size_t at = expected.find("%n"); at != std::string::npos)
            expected.replace(at, 2, AccelerationServerName());
        ASSERT_EQ(m_boxes.boxes.size(), 1u);
        EXPECT_EQ(m_boxes.boxes[0].text, expected);
        EXPECT_EQ(OurServer(), 0);
        dialog.DestroyWindow();
    }
}

}  // namespace
