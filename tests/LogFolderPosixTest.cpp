#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "common/LogPlace.h"
#include "tests/support/Environment.h"

// $XDG_STATE_HOME/quorvel; ~/.local/state/quorvel when it is unset or not
// an absolute path, as the XDG rules say.
TEST(LogFolder, IsInTheStateFolderTheEnvironmentNames)
{
    const char* home = std::getenv("HOME");
    std::string savedHome = home ? home : "";
    SetEnv("XDG_STATE_HOME", "/var/tmp/state");
    EXPECT_EQ(LogFolder(), "/var/tmp/state/quorvel");
    SetEnv("HOME", "/home/op");
    SetEnv("XDG_STATE_HOME", "state");
    EXPECT_EQ(LogFolder(), "/home/op/.local/state/quorvel");
    UnsetEnv("XDG_STATE_HOME");
    EXPECT_EQ(LogFolder(), "/home/op/.local/state/quorvel");
    if (home)
        SetEnv("HOME", savedHome.c_str());
    else
        UnsetEnv("HOME");
}
