#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "common/FileSystem.h"
#include "common/Trace.h"
#include "tests/support/Environment.h"
#include "tests/support/TempDir.h"

namespace {

class ClientLogTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        StopClientLog();
        UnsetEnv("QUORVEL_DEBUG");
    }

    std::string PathOf(const std::string& name) const { return m_dir / ("logs/" + name); }

    // The texts of a log file's lines; every line has its stamp, local
    // time with its offset from UTC.
    static std::vector<std::string> Texts(const std::string& path)
    {
        static const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} [+-]\d{4} (.*))");
        std::vector<std::string> texts;
        std::istringstream lines(ReadWholeFile(path));
        std::smatch match;
        for (std::string line; std::getline(lines, line);) {
            EXPECT_TRUE(std::regex_match(line, match, stamped)) << line;
            texts.push_back(match[1]);
        }
        return texts;
    }

    TempDir m_dir;
};

// The folder is made with the levels above it; each file stays within its
// size, three older ones are kept, and no line is lost or split at a
// rotation.
TEST_F(ClientLogTest, RotatesPastItsSizeKeepingThreeOlderFiles)
{
    StartClientLog(m_dir / "logs", 1000);
    for (int i = 0; i < 60; ++i)
        SupportLog("line %d %s", i, std::string(40, 'x').c_str());
    StopClientLog();
    std::vector<std::string> texts;
    for (const char* name : {"quorvel-client.3.log", "quorvel-client.2.log", "quorvel-client.1.log",
                             "quorvel-client.log"}) {
        int64_t size = fsys::Stat(PathOf(name)).size;
        EXPECT_TRUE(size > 0 && size <= 1000) << name << ": " << size;
        for (const std::string& text : Texts(PathOf(name)))
            texts.push_back(text);
    }
    EXPECT_FALSE(FileExists(PathOf("quorvel-client.4.log")));
    ASSERT_GT(texts.size(), 40u);
    for (size_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].rfind("line " + std::to_string(60 - texts.size() + i) + " ", 0), 0u) << texts[i];
}

// Diagnostic lines go to the log and to stderr only with QUORVEL_DEBUG
// set; support lines always go to the log, and to stderr along with them.
TEST_F(ClientLogTest, DebugLinesReachTheLogAndStderrOnlyWhenAskedFor)
{
    StartClientLog(m_dir / "logs");
    ::testing::internal::CaptureStderr();
    DebugText("接收数据未完\r\n");
    SupportLog("行 %d", 1);
    SetEnv("QUORVEL_DEBUG", "1");
    DebugText("接收数据未完\r\n");
    SupportLog("行 %d", 2);
    std::string err = ::testing::internal::GetCapturedStderr();
    StopClientLog();
    EXPECT_EQ(Texts(PathOf("quorvel-client.log")), (std::vector<std::string>{"行 1", "接收数据未完", "行 2"}));
    EXPECT_NE(err.find(" 接收数据未完\n"), std::string::npos) << err;
    EXPECT_NE(err.find(" 行 2\n"), std::string::npos) << err;
    EXPECT_EQ(err.find("行 1"), std::string::npos) << err;
}

// A folder that cannot be made (a file stands in its way) or none at all:
// the lines are lost, nothing else happens.
TEST_F(ClientLogTest, AFolderThatCannotBeMadeOnlyLosesTheLines)
{
    fsys::Close(fsys::Open(m_dir / "logs", fsys::Mode::Fresh));
    StartClientLog(m_dir / "logs/quorvel");
    SupportLog("lost");
    StartClientLog("");
    SupportLog("lost too");
    EXPECT_FALSE(FileExists(m_dir / "logs/quorvel"));
    EXPECT_EQ(fsys::Stat(m_dir / "logs").size, 0);
}

}  // namespace
