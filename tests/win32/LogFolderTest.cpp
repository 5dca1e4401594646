#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

#include "common/LogPlace.h"
#include "common/win32/WideText.h"

// Quorvel\logs in the user's Local AppData folder, which the system also
// names in LOCALAPPDATA; '/' between levels like every path of the program.
TEST(LogFolder, IsQuorvelLogsInTheLocalAppDataFolder)
{
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    ASSERT_TRUE(local);
    std::string expected = WideToUtf8(local) + "/Quorvel/logs";
    std::replace(expected.begin(), expected.end(), '\\', '/');
    EXPECT_EQ(LogFolder(), expected);
}
