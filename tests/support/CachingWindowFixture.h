// The main window on a program directory of the test's own (with the
// Caddy launcher beside it) against the demo services and content: the
// fixture of the caching window's tests and the acceleration server's.
#pragma once

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>
#include <vector>
#include <wx/listctrl.h>

#include "accel/ProcessControl.h"
#include "cache/CacheLayout.h"
#include "demo/DemoContent.h"
#include "demo/DemoServices.h"
#include "net/HttpRequest.h"
#include "res/resource.h"
#include "tests/support/Environment.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"
#include "ui/ListToolTips.h"
#include "ui/MainDlg.h"
#include "ui/PercentBar.h"

class CachingWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MountDemoServices(m_server.Routes());
        MountDemoContent(m_server.Routes());
        m_server.Start();
        // A resource service whose one file arrives slowly, to close the
        // window in the middle of its download.
        m_slowUrl = m_server.Url("/content/8000000/slow.bin?rate=2000000");
        m_slowList.Routes().Get("/resource/get_list", [this](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"code":0,"data":[{"url":")" + m_slowUrl +
                                R"(","name":"slow","type":"video","size":8000000}]})", "application/json");
        });
        m_slowList.Start();
        SetEnv("QUORVEL_MEETING_HOST", m_server.HostPort().c_str());
        SetEnv("QUORVEL_RESOURCE_HOST", m_server.HostPort().c_str());
        InstallServer(R"(respond 404)");
    }

    void TearDown() override
    {
        m_dialog.DestroyWindow();
        StopServers();
        UnsetEnv("QUORVEL_MEETING_HOST");
        UnsetEnv("QUORVEL_RESOURCE_HOST");
    }

    // The server of the program directory (POSIX: the launcher), with a
    // Caddyfile that answers everything but /assets/ with `fallback`.
    void InstallServer(const std::string& fallback)
    {
        std::filesystem::copy_file(std::filesystem::path(QUORVEL_PROGRAM_DIR) / AccelerationServerName(),
                                   m_dir / AccelerationServerName(), std::filesystem::copy_options::overwrite_existing);
        std::string caddyfile = ReadWholeFile(std::string(QUORVEL_PROGRAM_DIR) + "/Caddyfile");
        size_t at = caddyfile.find("respond 404");
        ASSERT_NE(at, std::string::npos);
        caddyfile.replace(at, std::strlen("respond 404"), fallback);
        std::ofstream(m_dir / "Caddyfile") << caddyfile;
    }

    // The server the window launched from this test's own program
    // directory (its command line names that directory's Caddyfile), 0
    // when none runs. Any other Caddy on the machine is not this test's.
    ProcessId OurServer(const std::filesystem::path& dir) const
    {
        return FindServerOf(std::filesystem::canonical(dir).generic_string());
    }
    ProcessId OurServer() const { return OurServer(m_dir.Path()); }

    // Ends what servers the test's program directories still run (a
    // failed test's included), so none keeps port 3000 for the next test.
    void StopServers()
    {
        for (const std::filesystem::path& dir : m_programDirs) {
            if (!std::filesystem::exists(dir))
                continue;
            for (ProcessId pid = OurServer(dir), tries = 0; pid != 0 && tries < 100; pid = OurServer(dir), ++tries)
                KillProcess(pid);
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

    // "启动加速", and the start's end (it runs off the UI thread).
    void StartServer(CMainDlg& dialog)
    {
        dialog.SendCommand(IDC_ACCELERATE);
        ASSERT_TRUE(PumpUntil([&] { return !dialog.IsStartingServer(); }, std::chrono::seconds(10)));
    }

    template <typename Condition>
    bool PumpUntil(Condition condition, std::chrono::seconds limit = std::chrono::seconds(30))
    {
        auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            PumpEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return condition();
    }

    // Caches the first demo meeting through the window. Its resource of
    // unknown size fails, so the job ends given up, with every other byte
    // in place (and the bar short of 100: a row failed).
    void CacheFirstMeeting()
    {
        Open(m_dialog);
        Choose(m_dialog, 0);
        m_dialog.SendCommand(IDOK);
        ASSERT_TRUE(PumpUntil([&] { return GivenUp() && m_dialog.GetProgressBar()->GetPos() == 99; }));
    }

    // Where the cache keeps a resource of `type` at `url`: its URL's query
    // stays in the file name, as the system allows it.
    std::string CachePath(const std::string& type, const std::string& url)
    {
        std::string name;
        EXPECT_TRUE(CCacheLayout::FileNameOf(url, name)) << url;
        return m_dir / ("assets/" + type + "/" + name);
    }

    bool GivenUp() { return Label(IDOK) == "开始缓存" && Enabled(IDOK) && Enabled(IDC_ACCELERATE); }

    std::string Cell(long row, int column)
    {
        return m_dialog.GetList(IDC_CONTENT_LIST)->GetItemText(row, column).utf8_string();
    }

    bool Enabled(int id) { return m_dialog.GetDlgItem(id)->IsEnabled(); }

    // The tooltip of the content list while the pointer rests on a row's
    // status.
    std::string RowToolTip(long row)
    {
        wxListCtrl* list = m_dialog.GetList(IDC_CONTENT_LIST);
        wxWindow* rows = ListRowsWindow(list);
        int x = list->GetColumnWidth(0) + list->GetColumnWidth(1) + 4, flags = 0;
        for (int y = 0; y < rows->GetSize().y; ++y) {
            if (list->HitTest(wxPoint(x, y), flags) != row)
                continue;
            wxMouseEvent motion(wxEVT_MOTION);
            motion.SetPosition(wxPoint(x, y));
            motion.SetEventObject(rows);
            rows->GetEventHandler()->ProcessEvent(motion);
            return rows->GetToolTipText().utf8_string();
        }
        return "no such row";
    }
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
    std::string m_slowUrl;  // the one file of m_slowList (declared first: it outlives the server)
    LoopbackServer m_slowList;
    TempDir m_dir;
    std::vector<std::filesystem::path> m_programDirs{m_dir.Path()};  // where servers may run
    CMainDlg m_dialog;
    MessageBoxRecorder m_boxes;
};
