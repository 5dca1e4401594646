// Finding the server process by name: the executable's name (also after it
// was replaced on disk), the command line, and never a zombie.
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <thread>
#include <vector>

#include "accel/posix/ProcessList.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Environment.h"
#include "tests/support/Eventually.h"
#include "tests/support/TempDir.h"

namespace {

TEST(FindProcessByName, MatchesNameAndCommandLineSkipsZombiesAndSurvivesAnUpgrade)
{
    TempDir dir;
    std::string program = dir / "caddy";
    std::filesystem::copy_file("/usr/bin/sleep", program);
    ChildProcess server({program, "31"});
    pid_t pid = server.Pid();
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(Eventually([&] { return FindProcessByName("caddy", "31") == pid; }));
    EXPECT_EQ(FindProcessByName("caddy", "3"), 0) << "whole words of the command line only";
    EXPECT_EQ(FindProcessByName("cadd"), 0);
    std::filesystem::remove(program);  // as a package upgrade replaces it
    EXPECT_EQ(FindProcessByName("caddy", "31"), pid);

    server.Signal(SIGKILL);
    EXPECT_TRUE(Eventually([&] { return FindProcessByName("caddy", "31") == 0; }))
        << "an ended process not yet collected is no server";
    EXPECT_EQ(server.Wait(), 128 + SIGKILL) << "it was a zombie until now";
}

// The server gets stdin, stdout and stderr and nothing else of the client's
// descriptors, even one opened without close-on-exec.
TEST(WinExec, TheServerGetsOnlyTheThreeStandardDescriptors)
{
    TempDir dir;
    std::string program = dir / "server";
    std::ofstream(program) << "#!/bin/sh\nexec sleep 30\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    int pipes[2];
    ASSERT_EQ(pipe(pipes), 0);  // inheritable, as a library might leave one
    ChildProcess server(WinExec(program, dir.Path(), {}));
    pid_t pid = server.Pid();
    ASSERT_GT(pid, 0);
    std::string proc = "/proc/" + std::to_string(pid);
    std::error_code error;
    auto fds = [&] {
        std::set<std::string> open;
        for (const auto& entry : std::filesystem::directory_iterator(proc + "/fd", error))
            open.insert(entry.path().filename());
        return open;
    };
    // The new image shows before the shell's close-on-exec descriptors are
    // gone: wait for both.
    const std::set<std::string> standard{"0", "1", "2"};
    ASSERT_TRUE(Eventually([&] {
        return std::filesystem::read_symlink(proc + "/exe", error).filename() == "sleep" && fds() == standard;
    })) << ::testing::PrintToString(fds());
    close(pipes[0]);
    close(pipes[1]);
}

// What the client gives the server replaces a variable of the same name in
// the client's own environment: the first of two entries is the one read.
TEST(WinExec, TheGivenVariablesReplaceTheClientsOwn)
{
    TempDir dir;
    std::string program = dir / "server";
    std::ofstream(program) << "#!/bin/sh\ntr '\\0' '\\n' </proc/$$/environ >environ\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    SetEnv("QUORVEL_ACCEL_TOKEN", "the user's");
    ChildProcess server(WinExec(program, dir.Path(), {"QUORVEL_ACCEL_TOKEN=given"}));
    UnsetEnv("QUORVEL_ACCEL_TOKEN");
    ASSERT_EQ(server.Wait(), 0);
    std::vector<std::string> tokens;
    std::ifstream seen(dir / "environ");
    for (std::string entry; std::getline(seen, entry);)
        if (entry.rfind("QUORVEL_ACCEL_TOKEN=", 0) == 0)
            tokens.push_back(entry);
    EXPECT_EQ(tokens, std::vector<std::string>{"QUORVEL_ACCEL_TOKEN=given"});
}

}  // namespace
