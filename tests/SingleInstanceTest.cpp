#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

#include "app/FieldControlApp.h"
#include "demo/DemoData.h"
#include "demo/DemoServices.h"
#include "framework/TopWindows.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Eventually.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LoopbackServer.h"

// Xlib's macros (None, Success, ...) clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using namespace std::chrono_literals;

ChildProcess StartClient()
{
    return ChildProcess({QUORVEL_CLIENT_PATH});
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

// A handler's answer held until the test opens the gate.
class Gate {
public:
    void Open()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_open = true;
        }
        m_opened.notify_all();
    }
    void Wait()
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_opened.wait_for(lock, 30s, [this] { return m_open; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_opened;
    bool m_open = false;
};

struct OpenAtEnd {
    Gate& gate;
    ~OpenAtEnd() { gate.Open(); }
};

// Windows closed by earlier tests of this process are destroyed first, so
// only the client's windows carry the captions.
class SingleInstance : public ::testing::Test {
protected:
    void SetUp() override { PumpEvents(); }
};

TEST_F(SingleInstance, ASecondStartShowsNothingAndBringsTheFirstLoginWindowForward)
{
    RefusingPort refusing;
    setenv("QUORVEL_ACCOUNT_HOST", refusing.HostPort().c_str(), 1);
    ChildProcess first = StartClient();
    ASSERT_GT(first.Pid(), 0);
    TopWindow login = WaitForWindow(kLoginCaption);
    ASSERT_NE(login, 0u) << "the first copy's login window did not appear";

    FocusThief thief;
    ASSERT_EQ(thief.Focused(), thief.Own());
    EXPECT_EQ(StartClient().Wait(10s), 0);
    EXPECT_EQ(thief.Focused(), login);
    EXPECT_EQ(FindTopWindow(kLoginCaption), login) << "no second login window";
    EXPECT_EQ(FindTopWindow(kMainCaption), 0u);
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
    EXPECT_EQ(StartClient().Wait(10s), 0);
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u);

    XDestroyWindow(display, other);
    XCloseDisplay(display);
}

// Between the login and the main window's first show the first copy has no
// window at all (the main window fetches the meetings first): a second copy
// started then must not run.
TEST_F(SingleInstance, ASecondStartWhileTheFirstOpensItsMainWindowEndsToo)
{
    // The meeting list is held back until the second copy has ended, or
    // the test has (the gate outlives the server, and opens before it stops).
    Gate secondEnded;
    LoopbackServer services;
    OpenAtEnd opens{secondEnded};
    std::atomic<int> meetingRequests{0};
    services.Routes().Get("/get_meet_list", [&](const httplib::Request&, httplib::Response& res) {
        ++meetingRequests;
        secondEnded.Wait();
        res.set_content(R"({"code":0,"data":[]})", "application/json");
    });
    MountDemoServices(services.Routes());
    services.Start();
    for (const char* name : {"QUORVEL_ACCOUNT_HOST", "QUORVEL_MEETING_HOST"})
        setenv(name, services.HostPort().c_str(), 1);
    ChildProcess first = StartClient();
    ASSERT_NE(WaitForWindow(kLoginCaption), 0u);
    std::string signIn = std::string("timeout 20 xdotool search --sync --name '^") + kLoginCaption +
                         "$' windowfocus --sync type --delay 20 '" + kDemoUser + "' && xdotool key Tab type --delay 20 '" +
                         kDemoPassword + "' && xdotool key Return";
    ASSERT_EQ(std::system(signIn.c_str()), 0);
    ASSERT_TRUE(Eventually([&] { return meetingRequests > 0; })) << "the first copy is opening its main window";
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u);
    EXPECT_EQ(FindTopWindow(kMainCaption), 0u);

    EXPECT_EQ(StartClient().Wait(15s), 0);
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u) << "the second copy showed no login window";
    secondEnded.Open();
    EXPECT_NE(WaitForWindow(kMainCaption), 0u) << "the first copy's main window";

    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(10s), 128 + SIGTERM);
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
