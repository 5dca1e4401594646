// The web server's process on Windows, with the real caddy.exe under Wine:
// launched from a program directory, found there after a "crash", never
// found elsewhere, ended by Kill, and ended with the client (job object).
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

#include "accel/ProcessControl.h"
#include "net/HttpRequest.h"
#include "tests/support/Environment.h"
#include "tests/support/TempDir.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What 127.0.0.1:3000 answers "/" with: 404 from our server, 0 when nothing listens.
long Answer()
{
    CHttpRequest request;
    request.m_nTimeLimitMs = 1000;
    char body[256] = {};
    request.Get("http://127.0.0.1:3000/", body, sizeof body);
    return request.m_nStatusCode;
}

template <typename Condition>
bool Within(std::chrono::seconds limit, Condition condition)
{
    for (auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;) {
        if (condition())
            return true;
        std::this_thread::sleep_for(100ms);
    }
    return condition();
}

class ServerProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* file : {"caddy.exe", "Caddyfile"})
            fs::copy_file(fs::path(QUORVEL_PROGRAM_DIR) / file, m_dir / file);
        ASSERT_EQ(Answer(), 0) << "port 3000 is taken";
    }

    TempDir m_dir;
};

TEST_F(ServerProcessTest, LaunchedFoundAndKilledInItsOwnDirectoryOnly)
{
    CServerProcess server;
    ASSERT_EQ(server.Launch(m_dir.Path(), {"QUORVEL_ACCEL_TOKEN=t"}), 0);
    ASSERT_TRUE(Within(20s, [] { return Answer() == 404; }));
    EXPECT_TRUE(server.Running());
    EXPECT_EQ(FindServerOf(m_dir.Path()), server.Id());
    TempDir elsewhere;
    EXPECT_EQ(FindServerOf(elsewhere.Path()), 0) << "another directory's server is not ours";
    EXPECT_EQ(server.Kill(), 0);
    EXPECT_FALSE(server.Running());
    EXPECT_TRUE(Within(10s, [] { return Answer() == 0; }));
}

TEST_F(ServerProcessTest, AServerLeftRunningIsFoundAndEnded)
{
    CServerProcess server;
    ASSERT_EQ(server.Launch(m_dir.Path(), {}), 0);
    ASSERT_TRUE(Within(20s, [] { return Answer() == 404; }));
    ProcessId left = FindServerOf(m_dir.Path());
    ASSERT_NE(left, 0);
    EXPECT_EQ(KillProcess(left), 0);
    EXPECT_TRUE(Within(10s, [&] { return !server.Running(); }));
}

// The program's own variables win over the user's of the same name, in
// any case (Windows reads the first of two entries): Caddy serves this
// directory with this token and keeps its files in it.
TEST_F(ServerProcessTest, TheServerSeesTheProgramsVariablesNotTheUsers)
{
    TempDir elsewhere;
    fs::create_directories(m_dir / "assets");
    std::ofstream(m_dir / "assets/probe.txt") << "here";
    const char* users[][2] = {{"QUORVEL_PROGRAM_DIR", elsewhere.Path().c_str()},
                              {"quorvel_accel_token", "the user's"},
                              {"Xdg_Config_Home", elsewhere.Path().c_str()},
                              {"XDG_DATA_HOME", elsewhere.Path().c_str()}};
    for (auto [name, value] : users)
        SetEnv(name, value);
    CServerProcess server;
    int launched = server.Launch(m_dir.Path(), {"QUORVEL_ACCEL_TOKEN=t"});
    for (auto [name, value] : users)
        UnsetEnv(name);
    ASSERT_EQ(launched, 0);
    ASSERT_TRUE(Within(20s, [] { return Answer() == 404; }));
    CHttpRequest request;
    HttpCallOptions options;
    options.header = "X-Quorvel-Accel";
    char body[256] = {};
    request.Get("http://127.0.0.1:3000/assets/probe.txt", body, sizeof body, &options);
    EXPECT_EQ(request.m_nStatusCode, 200);
    EXPECT_EQ(options.headerValue, "t");
    EXPECT_TRUE(fs::exists(m_dir / ".caddy/config/caddy/autosave.json"));
    EXPECT_TRUE(fs::is_empty(elsewhere.Path()));
    EXPECT_EQ(server.Kill(), 0);
}

// The job object ends the server with its owner, so Caddy never outlives
// the client.
TEST_F(ServerProcessTest, TheServerEndsWithItsOwner)
{
    {
        CServerProcess server;
        ASSERT_EQ(server.Launch(m_dir.Path(), {}), 0);
        ASSERT_TRUE(Within(20s, [] { return Answer() == 404; }));
    }
    EXPECT_TRUE(Within(10s, [] { return Answer() == 0; })) << "the server outlived its owner";
    EXPECT_EQ(FindServerOf(m_dir.Path()), 0);
}

}  // namespace
