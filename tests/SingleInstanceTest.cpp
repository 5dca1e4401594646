#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

#include "app/FieldControlApp.h"
#include "framework/X11Windows.h"
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

XWINDOW WaitForWindow(const char* caption)
{
    for (int i = 0; i < 500; ++i) {
        if (XWINDOW window = FindWindowA(nullptr, caption))
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
    XWINDOW login = WaitForWindow(kLoginCaption);
    ASSERT_NE(login, 0u) << "the first copy's login window did not appear";

    FocusThief thief;
    ASSERT_EQ(thief.Focused(), thief.Own());
    pid_t second = StartClient();
    EXPECT_EQ(WaitExit(second, 10s), 0);
    EXPECT_EQ(thief.Focused(), login);
    EXPECT_EQ(FindWindowA(nullptr, kLoginCaption), login) << "no second login window";
    EXPECT_EQ(FindWindowA(nullptr, kMainCaption), 0u);

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
    EXPECT_EQ(FindWindowA(nullptr, kLoginCaption), 0u);

    XDestroyWindow(display, other);
    XCloseDisplay(display);
}

}  // namespace
