// The engine's tests against the fault server: one harness per test, and
// the helpers both the shared and the POSIX-only cases use.
#pragma once

#include <algorithm>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "net/Validators.h"
#include "tests/support/DownloadHarness.h"
#include "tests/support/Eventually.h"
#include "tests/support/ParamName.h"

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

// How a case's requests reach the content server.
enum class Route {
    Direct,       // HTTP/1.1 to the server itself
    Http2,        // HTTP/2 over TLS, through nginx in front of it (POSIX only)
    Http2Goaway,  // the same, nginx ending each connection with a GOAWAY after 3 streams
};

inline std::string RouteName(Route route)
{
    return route == Route::Direct ? "Direct" : route == Route::Http2 ? "Http2" : "Http2Goaway";
}

class HttpDownloadTest : public ::testing::Test {
protected:
    // Sends the requests by `route` from here on.
    void SendBy(Route route)
    {
        m_route = route;
        if (route != Route::Direct) {
            ASSERT_TRUE(h.ThroughHttp2Front(route == Route::Http2Goaway ? 3 : 1000)) << h.front->Failure();
        }
    }

    // Through the front, every request came as HTTP/2, and on the GOAWAY
    // route some connection was ended by one.
    void TearDown() override
    {
        if (!h.front || HasFatalFailure())
            return;
        std::vector<Http2Front::Logged> log = h.front->Log();
        EXPECT_FALSE(log.empty());
        int most = 0;
        for (const Http2Front::Logged& request : log) {
            EXPECT_EQ(request.protocol, "HTTP/2.0");
            most = std::max(most, request.stream);
        }
        if (m_route == Route::Http2Goaway) {
            EXPECT_EQ(most, h.front->StreamsPerConnection()) << "no connection got as far as its GOAWAY";
        }
    }

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
    Route m_route = Route::Direct;
};

// The faults of content hosts in the field, as queries of the demo content
// (demo/DemoContent.h). The last is a host that stops answering: its
// silence outlasts the stall limit (below), so the engine ends the attempt,
// not the host.
inline const char* const kFaults[] = {"", "drop=200000", "drop=123457", "norange=1", "redirect=1",
                                      "stall=500000&stall_ms=300", "redirect=1&drop=300000",
                                      "norange=1&redirect=1", "drop=400000&stall=300000&stall_ms=200",
                                      "redirect=html", "redirect=html&drop=300000", "weak=1", "weak=1&drop=300000",
                                      "weak=1&nolastmodified=1", "noetag=1&drop=300000",
                                      "stall=400000&stall_ms=9000"};

// The fault table's cases each take a route, and a stall limit of 1 s for
// the 60 s one. libcurl judges the rate over its last 5 s, so an attempt
// that had bytes fails some 7 s into a silence.

// Each fault, with the segments on connections of their own from the
// first byte on, and with the size query's answer carrying the file alone
// (as on a fast link) until a fault breaks it off.
class FaultTest : public HttpDownloadTest, public ::testing::WithParamInterface<std::tuple<const char*, bool, Route>> {
protected:
    void SetUp() override
    {
        h.engine.m_nStallSeconds = 1;
        SendBy(std::get<Route>(GetParam()));
    }
};

inline std::string FaultName(const ::testing::TestParamInfo<FaultTest::ParamType>& info)
{
    return ParamName(std::get<0>(info.param)) + (std::get<1>(info.param) ? "_alone" : "_fromFirstByte");
}

// The whole table on one engine, and files of it in flight together.
class EveryFaultTest : public HttpDownloadTest, public ::testing::WithParamInterface<Route> {
protected:
    void SetUp() override
    {
        h.engine.m_nStallSeconds = 1;
        SendBy(GetParam());
    }
};

inline std::string EveryFaultName(const ::testing::TestParamInfo<Route>& info)
{
    return RouteName(info.param);
}

