#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>

#include "app/FieldControlApp.h"
#include "demo/DemoData.h"
#include "demo/DemoServices.h"
#include "framework/TopWindows.h"
#include "tests/support/Environment.h"
#include "tests/support/Eventually.h"
#include "tests/support/GuiSystem.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LoopbackServer.h"

namespace {

using namespace std::chrono_literals;

TopWindow WaitForWindow(const char* caption)
{
    TopWindow window = 0;
    Eventually([&] { return (window = FindTopWindow(caption)) != 0; }, 10s);
    return window;
}

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
    SetEnv("QUORVEL_ACCOUNT_HOST", refusing.HostPort().c_str());
    ClientProcess first;
    ASSERT_TRUE(first.Started());
    TopWindow login = WaitForWindow(kLoginCaption);
    ASSERT_NE(login, 0u) << "the first copy's login window did not appear";
    ASSERT_TRUE(WaitUntilShown(login));

    ForeignWindow thief("focus thief");  // holds the focus meanwhile
    thief.TakeFocus();
    ASSERT_EQ(FocusedTopWindow(), thief.Handle());
    EXPECT_EQ(ClientProcess().Wait(10s), 0);
    EXPECT_TRUE(Eventually([&] { return FocusedTopWindow() == login; }, 5s)) << "the first copy's login window";
    EXPECT_EQ(FindTopWindow(kLoginCaption), login) << "no second login window";
    EXPECT_EQ(FindTopWindow(kMainCaption), 0u);
    UnsetEnv("QUORVEL_ACCOUNT_HOST");
}

// Only the client's own windows count: another program's window with its
// caption (a file manager on a folder of that name) is neither brought
// forward nor a reason not to start.
TEST_F(SingleInstance, AnotherProgramsWindowWithTheCaptionIsNotTheClient)
{
    RefusingPort refusing;
    SetEnv("QUORVEL_ACCOUNT_HOST", refusing.HostPort().c_str());
    ClientProcess other(QUORVEL_CAPTIONED_WINDOW, {kMainCaption});
    ASSERT_NE(WaitForWindow(kMainCaption), 0u) << "the other program's window";
    ForeignWindow thief("focus thief");
    thief.TakeFocus();
    EXPECT_TRUE(CFieldControlApp::IsFirstInstance(kMainCaption));
    EXPECT_EQ(FocusedTopWindow(), thief.Handle()) << "the other program's window stayed behind";
    ClientProcess client;
    EXPECT_NE(WaitForWindow(kLoginCaption), 0u) << "the client started";
    client.AskToEnd();
    EXPECT_EQ(client.Wait(10s), 128 + SIGTERM);
    UnsetEnv("QUORVEL_ACCOUNT_HOST");
}

// A copy that holds the program directory's lock without a window this
// desktop shows (in another user's session, say): a second copy, after
// waiting for a window, ends without one.
TEST_F(SingleInstance, ALockHeldOnTheProgramDirectoryStopsTheStart)
{
    std::string lock = std::string(QUORVEL_PROGRAM_DIR) + "/" + CInstanceLock::kFileName;
    ClientProcess holder(QUORVEL_CAPTIONED_WINDOW, {"lock holder", lock});
    ASSERT_NE(WaitForWindow("lock holder"), 0u) << "the lock is held";
    EXPECT_EQ(ClientProcess().Wait(std::chrono::milliseconds(CFieldControlApp::kWindowWaitMs) + 20s), 0)
        << "the second copy ran beside the lock's holder";
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u);
}

// Between the login and the main window's first show the first copy has no
// window at all on X (the main window fetches the meetings first; Windows
// has it already, hidden): a second copy started then must not run.
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
        SetEnv(name, services.HostPort().c_str());
    ClientProcess first;
    ASSERT_NE(WaitForWindow(kLoginCaption), 0u);
    ASSERT_TRUE(SignInByKeyboard(kLoginCaption, kDemoUser, kDemoPassword));
    ASSERT_TRUE(Eventually([&] { return meetingRequests > 0; })) << "the first copy is opening its main window";
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u);

    EXPECT_EQ(ClientProcess().Wait(15s), 0);
    EXPECT_EQ(FindTopWindow(kLoginCaption), 0u) << "the second copy showed no login window";
    secondEnded.Open();
    EXPECT_NE(WaitForWindow(kMainCaption), 0u) << "the first copy's main window";

    first.AskToEnd();
    EXPECT_EQ(first.Wait(10s), 128 + SIGTERM);
    for (const char* name : {"QUORVEL_ACCOUNT_HOST", "QUORVEL_MEETING_HOST"})
        UnsetEnv(name);
}

}  // namespace
