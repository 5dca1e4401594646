#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "app/FieldControlApp.h"
#include "demo/DemoData.h"
#include "demo/DemoServices.h"
#include "framework/TopWindows.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LoopbackServer.h"

// Xlib's macros (None, Success, ...) clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

pid_t StartClient()
{
    pid_t pid = 0;
    char* argv[] = {const_cast<char*>(QUORVEL_CLIENT_PATH), nullptr};
    return posix_spawn(&pid, QUORVEL_CLIENT_PATH, nullptr, nullptr, argv, environ) == 0 ? pid : -1;
}

// Exit status of `pid`, or -1 when it is still running after `limit`.
int WaitExit(pid_t pid, std::chrono::milliseconds limit)
{
    auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(20ms);
    }
    return -1;
}

TopWindow WaitForWindow(const char* caption)
{
    for (int i = 0; i < 500; ++i) {
        if (TopWindow window = FindTopWindow(caption))
            return window;
        std::this_thread::sleep_for(20ms);
    }
    return 0;
}

// A window of this test's own that holds the focus meanwhile.
class FocusThief {
public:
    FocusThief() : m_display(XOpenDisplay(nullptr))
    {
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 50, 50, 0, 0, 0);
        XMapRaised(m_display, m_window);
        XSync(m_display, False);
        std::this_thread::sleep_for(100ms);
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }
    ~FocusThief()
    {
        XDestroyWindow(m_display, m_window);
        XCloseDisplay(m_display);
    }
    Window Focused() const
    {
        Window focus;
        int revert;
        XGetInputFocus(m_display, &focus, &revert);
        return focus;
    }
    Window Own() const { return m_window; }

private:
    Display* m_display;
    Window m_window;
};

// Windows closed by earlier tests of this process are destroyed first, so
// only the client's windows carry the captions.
class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override { PumpEvents(); }
};

TEST_F(SingleInstance, ASecondStartShowsNothingAndBringsTheFirstLoginWindowForward)
{
    setenv("QUORVEL_ACCOUNT_HOST", ("127.0.0.1:" + std::to_string(ClosedLoopbackPort())).c_str(), 1);
    pid_t first = StartClient();
    ASSERT_GT(first, 0);
    TopWindow login = WaitForWindow(kLoginCaption);
    ASSERT_NE(login, 0u) << "the first copy's login window did not appear";

    FocusThief thief;
    ASSERT_EQ(thief.Focused(), thief.Own());
    pid_t second = StartClient();
    EXPECT_EQ(WaitExit(second, 10s), 0);
    EXPECT_EQ(thief.Focused(), login);
    EXPECT_EQ(FindTopWindow(kLoginCaption), login) << "no second login window";
    EXPECT_EQ(FindTopWindow(kMainCaption), 0u);

    kill(first, SIGKILL);
    WaitExit(first, 10s);
    unsetenv("QUORVEL_ACCOUNT_HOST");
}

TEST_F(SingleInstance, AWindowOfAnyProgramWithTheCaptionStopsTheStart)
{
    Display* display = XOpenDisplay(nullptr);
    Window other = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 80, 40, 0, 0, 0);
    Xutf8SetWMProperties(display, other, kMainCaption, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
    XMapWindow(display, other);
    XSync(display, False);

    EXPECT_FALSE(CFieldControlApp::IsFirstInstance(kMainCaption));
    EXPECT_TRUE(CFieldControlApp::IsFirstInstance("Quorvel加速场控 (另一个)"));
    pid_t client = StartClient();
    EXPECT_EQ(WaitExit(client, 10s), 0);
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u);

    XDestroyWindow(display, other);
    XCloseDisplay(display);
}

// Between the login and the main window's first show the first copy has no
// window at all (the main window fetches the meetings first): a second copy
// started then must not run.
TEST_F(SingleInstance, ASecondStartWhileTheFirstOpensItsMainWindowEndsToo)
{
    LoopbackServer services;
    std::atomic<int> meetingRequests{0};
    services.Routes().Get("/get_meet_list", [&](const httplib::Request&, httplib::Response& res) {
        ++meetingRequests;
        std::this_thread::sleep_for(3s);
        res.set_content(R"({"code":0,"data":[]})", "application/json");
    });
    MountDemoServices(services.Routes());
    services.Start();
    for (const char* name : {"QUORVEL_ACCOUNT_HOST", "QUORVEL_MEETING_HOST"})
        setenv(name, services.HostPort().c_str(), 1);
    pid_t first = StartClient();
    ASSERT_NE(WaitForWindow(kLoginCaption), 0u);
    std::string signIn = std::string("xdotool search --sync --name '^") + kLoginCaption +
                         "$' windowfocus --sync type --delay 20 '" + kDemoUser + "' && xdotool key Tab type --delay 20 '" +
                         kDemoPassword + "' && xdotool key Return";
    ASSERT_EQ(std::system(signIn.c_str()), 0);
    for (int i = 0; i < 500 && meetingRequests == 0; ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_EQ(meetingRequests, 1) << "the first copy is opening its main window";
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u);
    EXPECT_EQ(FindTopWindow(kMainCaption), 0u);

    pid_t second = StartClient();
    EXPECT_EQ(WaitExit(second, 15s), 0);
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u) << "the second copy showed no login window";
    EXPECT_NE(FindTopWindow(kMainCaption), 0u);

    kill(first, SIGTERM);
    EXPECT_EQ(WaitExit(first, 10s), 128 + SIGTERM);
    for (const char* name : {"QUORVEL_ACCOUNT_HOST", "QUORVEL_MEETING_HOST"})
        unsetenv(name);
}

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

}  // namespace
