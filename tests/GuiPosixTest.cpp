// Window tests of what only POSIX has: a session without an X display, and
// the test binary's own resolver (it replaces getaddrinfo).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "app/FieldControlApp.h"
#include "tests/support/CachingWindowFixture.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/SlowResolver.h"
#include "ui/MainDlg.h"

namespace {

using namespace std::chrono_literals;

TEST(NoDisplay, TheClientSaysItNeedsAGraphicalSessionAndExits1)
{
    std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY '") + QUORVEL_CLIENT_PATH + "' 2>&1";
    FILE* output = popen(command.c_str(), "r");
    ASSERT_NE(output, nullptr);
    std::string text;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, output))
        text += buffer;
    int status = pclose(output);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(text.find("needs a graphical session"), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
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

}  // namespace
