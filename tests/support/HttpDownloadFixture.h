// The engine's tests against the fault server: one harness per test, and
// the helpers both the shared and the POSIX-only cases use.
#pragma once

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "net/Validators.h"
#include "tests/support/DownloadHarness.h"
#include "tests/support/Eventually.h"

using namespace std::chrono_literals;

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.flush()) << path;
}

// What the engine stores in the side file for a demo URL (the demo's files
// are at version 1).
inline uint64_t IdentityOf(const std::string& url)
{
    return DownloadIdentity(url, Validators{"\"v1\"", ""});
}

class HttpDownloadTest : public ::testing::Test {
protected:
    void ExpectComplete(const std::string& dest, const std::string& name, int64_t size)
    {
        EXPECT_TRUE(ReadWholeFile(dest) == DownloadHarness::Expected(name, size)) << "bytes differ";
        EXPECT_FALSE(FileExists(dest + ".tmp!"));
        EXPECT_FALSE(FileExists(dest + ".info"));
    }

    // Starts a slow download and stops it once every segment has written
    // at least one block.
    void StopMidway(const std::string& url, const std::string& dest)
    {
        h.engine.Start(url.c_str(), dest.c_str());
        ASSERT_TRUE(Eventually([&] { return h.engine.m_nDownloaded >= 4 * 262144; }));
        h.engine.Stop();
    }

    DownloadHarness h;
};

