#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "net/HttpRequest.h"
#include "net/SplitUrl.h"
#include "tests/support/Environment.h"
#include "tests/support/Eventually.h"
#include "tests/support/LoopbackServer.h"

TEST(SplitUrl, TakesPortFromTheHostAndKeepsThePathWithItsQuery)
{
    UrlParts parts;
    ASSERT_TRUE(SplitUrl("http://files.example:8080", parts));
    EXPECT_EQ(parts.host, "files.example");
    EXPECT_EQ(parts.port, 8080);
    EXPECT_EQ(parts.path, "");

    ASSERT_TRUE(SplitUrl("http://files.example/a/b.mp4?x=1&y=:2", parts));
    EXPECT_EQ(parts.host, "files.example");
    EXPECT_EQ(parts.port, 80);
    EXPECT_EQ(parts.path, "/a/b.mp4?x=1&y=:2");

    ASSERT_TRUE(SplitUrl("http://h:x9/p", parts));  // atoi of no digits
    EXPECT_EQ(parts.port, 0);
}

TEST(SplitUrl, RefusesWhatItCannotHold)
{
    UrlParts parts;
    EXPECT_FALSE(SplitUrl(nullptr, parts));
    EXPECT_FALSE(SplitUrl("", parts));
    EXPECT_FALSE(SplitUrl("https://files.example/a", parts));
    EXPECT_TRUE(SplitUrl(("http://h/" + std::string(kUrlFieldMax - 1, 'p')).c_str(), parts));
    EXPECT_FALSE(SplitUrl(("http://h/" + std::string(kUrlFieldMax, 'p')).c_str(), parts));
    EXPECT_FALSE(SplitUrl(("http://" + std::string(kUrlFieldMax + 1, 'h') + "/").c_str(), parts));
}

class HttpRequestTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto& routes = m_server.Routes();
        routes.Get("/text", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello", "text/plain");
        });
        routes.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("", "text/plain");
        });
        routes.Get("/missing", [](const httplib::Request&, httplib::Response& res) { res.status = 404; });
        routes.Get("/denied", [](const httplib::Request&, httplib::Response& res) { res.status = 401; });
        routes.Get("/moved", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/text");
        });
        routes.Get("/loop", [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
        routes.Get("/marked", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_header("X-Mark", "  token-1 ");
        });
        routes.Get(R"(/bytes/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(Body(std::stoul(req.matches[1])), "application/octet-stream");
        });
        // Announces 1000 bytes, sends 500 and closes the connection.
        routes.Get("/cut", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(1000, "application/octet-stream",
                                     [](size_t offset, size_t, httplib::DataSink& sink) {
                                         if (offset > 0)
                                             return false;
                                         std::string half(500, 'c');
                                         sink.write(half.data(), half.size());
                                         return true;
                                     });
        });
        m_server.Start();
    }

    static std::string Body(size_t size)
    {
        std::string body(size, '\0');
        for (size_t i = 0; i < size; ++i)
            body[i] = static_cast<char>('a' + i % 23);
        return body;
    }

    LoopbackServer m_server;
    CHttpRequest m_request;
};

TEST_F(HttpRequestTest, SendsAnHttp10RequestWithTheAgentAndTheRawPath)
{
    char buffer[64] = {};
    ASSERT_EQ(m_request.Get(m_server.Url("/text?a=1&b=%41").c_str(), buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "hello");
    EXPECT_EQ(m_request.m_nLength, 5u);
    EXPECT_EQ(m_request.m_nStatusCode, 200);
    ASSERT_EQ(m_server.RequestCount(), 1u);
    SeenRequest seen = m_server.Requests()[0];
    EXPECT_EQ(seen.target, "/text?a=1&b=%41");
    EXPECT_EQ(seen.version, "HTTP/1.0");
    EXPECT_EQ(seen.agent, "KOVRA4.0 GET");
}

// A proxy named in the environment carries the requests, but never those
// to loopback nor to a host the user's NO_PROXY names: those go directly
// (meetings.invalid then resolves nowhere).
TEST_F(HttpRequestTest, TheEnvironmentsProxyCarriesRequestsExceptToWhatNoProxyNames)
{
    LoopbackServer proxy;
    proxy.Routes().Get(R"(http://meetings\.invalid/text)", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("proxied", "text/plain");
    });
    proxy.Start();
    struct Variables {
        ~Variables()
        {
            UnsetEnv("http_proxy");
            UnsetEnv("NO_PROXY");
        }
    } variables;
    SetEnv("http_proxy", ("http://" + proxy.HostPort()).c_str());
    char buffer[64] = {};
    ASSERT_EQ(m_request.Get("http://meetings.invalid/text", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "proxied");
    ASSERT_EQ(m_request.Get(m_server.Url("/text").c_str(), buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "hello");
    SetEnv("NO_PROXY", "example.org,meetings.invalid");
    EXPECT_EQ(m_request.Get("http://meetings.invalid/text", buffer, sizeof buffer), HTTP_RESULT_NOT_SENT);
    EXPECT_EQ(m_request.m_nFailure, HTTP_FAILURE_NO_HOST);
    EXPECT_EQ(proxy.RequestCount(), 1u);
}

TEST_F(HttpRequestTest, AUrlWithOnlyHostAndPortRequestsTheRoot)
{
    char buffer[64];
    m_request.Get(("http://" + m_server.HostPort()).c_str(), buffer, sizeof buffer);
    ASSERT_EQ(m_server.RequestCount(), 1u);
    EXPECT_EQ(m_server.Requests()[0].target, "/");
}

TEST_F(HttpRequestTest, RefusedUrlsSendNothing)
{
    char buffer[64];
    std::string tls = "https://" + m_server.HostPort() + "/text";
    EXPECT_EQ(m_request.Get(tls.c_str(), buffer, sizeof buffer), HTTP_RESULT_BAD_URL);
    EXPECT_EQ(m_request.Get("", buffer, sizeof buffer), HTTP_RESULT_BAD_URL);
    EXPECT_EQ(m_request.Get(nullptr, buffer, sizeof buffer), HTTP_RESULT_BAD_URL);
    std::string longPath = m_server.Url("/text?" + std::string(400, 'q'));
    EXPECT_EQ(m_request.Get(longPath.c_str(), buffer, sizeof buffer), HTTP_RESULT_BAD_URL);
    EXPECT_EQ(m_server.RequestCount(), 0u);
}

TEST_F(HttpRequestTest, ABodyOfCapacityMinusOneFitsWithItsNul)
{
    std::vector<char> buffer(10000, 'X');
    ASSERT_EQ(m_request.Get(m_server.Url("/bytes/9999").c_str(), buffer.data(), 10000), 0);
    EXPECT_EQ(std::string(buffer.data()), Body(9999));
    EXPECT_EQ(m_request.m_nLength, 9999u);
}

TEST_F(HttpRequestTest, ABodyOfCapacityKeepsOnlyTheWholeChunksThatFitted)
{
    std::vector<char> buffer(10000, 'X');
    ASSERT_EQ(m_request.Get(m_server.Url("/bytes/10000").c_str(), buffer.data(), 10000),
              HTTP_RESULT_TOO_LARGE);
    uint32_t stored = m_request.m_nLength;
    EXPECT_LE(stored, 9999u);
    // Reading stops at the first chunk that does not fit, never earlier.
    EXPECT_GT(stored + CHttpRequest::kChunkSize, 9999u);
    EXPECT_EQ(buffer[stored], '\0');
    EXPECT_EQ(std::string(buffer.data(), stored), Body(stored));
}

TEST_F(HttpRequestTest, StatusOtherThan200FailsAndIsKept)
{
    char buffer[64];
    EXPECT_EQ(m_request.Get(m_server.Url("/missing").c_str(), buffer, sizeof buffer),
              HTTP_RESULT_BAD_STATUS);
    EXPECT_EQ(m_request.m_nStatusCode, 404);
    EXPECT_EQ(m_request.Get(m_server.Url("/denied").c_str(), buffer, sizeof buffer),
              HTTP_RESULT_BAD_STATUS);
    EXPECT_EQ(m_request.m_nStatusCode, 401);
}

TEST_F(HttpRequestTest, AnEmptyBodyIsAnEmptyText)
{
    char buffer[8];
    std::fill(buffer, buffer + sizeof buffer, 'X');
    ASSERT_EQ(m_request.Get(m_server.Url("/empty").c_str(), buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(m_request.m_nLength, 0u);
}

TEST_F(HttpRequestTest, WithoutABufferOnlyTheStatusCounts)
{
    EXPECT_EQ(m_request.Get(m_server.Url("/bytes/100000").c_str(), nullptr, 0), 0);
    EXPECT_EQ(m_request.m_nLength, 0u);
    char buffer[4];
    EXPECT_EQ(m_request.Get(m_server.Url("/text").c_str(), buffer, 0), 0);
    EXPECT_EQ(m_request.Get(m_server.Url("/missing").c_str(), nullptr, 0), HTTP_RESULT_BAD_STATUS);
}

TEST_F(HttpRequestTest, ARefusedConnectionKeepsThePreviousStatus)
{
    char buffer[64];
    m_request.Get(m_server.Url("/missing").c_str(), buffer, sizeof buffer);
    RefusingPort refusing;
    std::string closed = "http://" + refusing.HostPort() + "/x";
    EXPECT_EQ(m_request.Get(closed.c_str(), buffer, sizeof buffer), HTTP_RESULT_NOT_SENT);
    EXPECT_EQ(m_request.m_nStatusCode, 404);
}

TEST_F(HttpRequestTest, ABodyCutShortIsAFailure)
{
    char buffer[4096];
    EXPECT_EQ(m_request.Get(m_server.Url("/cut").c_str(), buffer, sizeof buffer), HTTP_RESULT_NOT_SENT);
    EXPECT_EQ(m_request.m_nStatusCode, 200);
}

TEST_F(HttpRequestTest, FollowsRedirects)
{
    char buffer[64];
    ASSERT_EQ(m_request.Get(m_server.Url("/moved").c_str(), buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "hello");
}

TEST_F(HttpRequestTest, ARedirectLoopEndsAsAFailureAfterTenRedirects)
{
    char buffer[64];
    EXPECT_NE(m_request.Get(m_server.Url("/loop").c_str(), buffer, sizeof buffer), HTTP_RESULT_OK);
    EXPECT_EQ(m_server.RequestCount(), 11u) << "the first request and ten redirects";
}

TEST_F(HttpRequestTest, KeepsTheValueOfTheHeaderAskedFor)
{
    HttpCallOptions options;
    options.header = "x-mark";
    EXPECT_EQ(m_request.Get(m_server.Url("/marked").c_str(), nullptr, 0, &options), HTTP_RESULT_BAD_STATUS);
    EXPECT_EQ(options.headerValue, "token-1");
    EXPECT_EQ(m_request.Get(m_server.Url("/text").c_str(), nullptr, 0, &options), HTTP_RESULT_OK);
    EXPECT_EQ(options.headerValue, "");
}

// A service that accepts the connection and never answers.
class SilentServiceTest : public ::testing::Test {
protected:
    std::string Url() const { return "http://" + m_silent.HostPort() + "/list"; }
    static long MsSince(std::chrono::steady_clock::time_point start)
    {
        return static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    }

    SilentListener m_silent;
    CHttpRequest m_request;
    char m_buffer[64];
};

TEST_F(SilentServiceTest, TheTimeLimitEndsTheCallAsTimedOut)
{
    m_request.m_nTimeLimitMs = 300;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(m_request.Get(Url().c_str(), m_buffer, sizeof m_buffer), HTTP_RESULT_NOT_SENT);
    EXPECT_LT(MsSince(start), 5000);
    EXPECT_EQ(m_request.m_nFailure, HTTP_FAILURE_TIMED_OUT);
}

TEST_F(SilentServiceTest, TheStopFlagEndsAWaitingCallAtOnce)
{
    std::atomic<int> stop{0};
    HttpCallOptions options;
    options.stop = &stop;
    std::chrono::steady_clock::time_point stopped;
    std::thread stopper([&] {
        // Once the call waits for the answer, not before it connected.
        EXPECT_TRUE(Eventually([&] { return m_silent.Connections() > 0; }));
        stopped = std::chrono::steady_clock::now();
        stop = 1;
    });
    EXPECT_EQ(m_request.Get(Url().c_str(), m_buffer, sizeof m_buffer, &options), HTTP_RESULT_NOT_SENT);
    stopper.join();
    EXPECT_LT(MsSince(stopped), 1000);
}

TEST_F(SilentServiceTest, FailuresSayWhyNoAnswerCame)
{
    RefusingPort refusing;
    std::string closed = "http://" + refusing.HostPort() + "/x";
    m_request.Get(closed.c_str(), m_buffer, sizeof m_buffer);
    EXPECT_EQ(m_request.m_nFailure, HTTP_FAILURE_REFUSED);
    m_request.Get("http://no-such-host.invalid/x", m_buffer, sizeof m_buffer);
    EXPECT_EQ(m_request.m_nFailure, HTTP_FAILURE_NO_HOST);
}

TEST_F(HttpRequestTest, OneObjectServesTwoThreadsAtOnce)
{
    auto hammer = [this](const std::string& path, const std::string& expected, int* failures) {
        std::vector<char> buffer(70000);
        for (int i = 0; i < 50; ++i) {
            if (m_request.Get(m_server.Url(path).c_str(), buffer.data(), 70000) != 0 ||
                std::string(buffer.data()) != expected)
                ++*failures;
        }
    };
    int failuresA = 0, failuresB = 0;
    std::thread a(hammer, "/bytes/65000", Body(65000), &failuresA);
    std::thread b(hammer, "/text", "hello", &failuresB);
    a.join();
    b.join();
    EXPECT_EQ(failuresA, 0);
    EXPECT_EQ(failuresB, 0);
}
