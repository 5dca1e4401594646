#include <gtest/gtest.h>
#include <map>
#include <string>

#include "net/ProxyRoute.h"

namespace {

struct RouteRow {
    const char* name;
    std::map<std::string, std::string> environment;
    SystemProxy system;
    const char* url;
    bool setProxy;
    const char* proxy;
    const char* noProxy;
};

constexpr const char* kLoopback = "localhost,127.0.0.1,::1";

const RouteRow kRows[] = {
    {"NothingSetGoesDirectly", {}, {}, "http://h.example/a", false, "", kLoopback},
    {"TheEnvironmentIsLeftToLibcurl", {{"https_proxy", "p:1"}}, {"s:2", "", false, ""}, "https://h.example/a",
     false, "", kLoopback},
    {"TheUsersNoProxyIsKeptBesideLoopback", {{"http_proxy", "p:1"}, {"NO_PROXY", "meetings.invalid"}}, {},
     "http://meetings.invalid/a", false, "", "meetings.invalid,localhost,127.0.0.1,::1"},
    {"ALoneStarStaysAlone", {{"no_proxy", "*"}}, {"s:2", "", false, ""}, "http://h.example/a", true, "s:2", "*"},
    {"OneServerForEveryScheme", {}, {"s:2", "", false, ""}, "https://h.example/a", true, "s:2", kLoopback},
    {"TheHttpsEntryOfAList", {}, {"http=a:1;https=b:2", "", false, ""}, "https://h.example/a", true, "b:2",
     kLoopback},
    {"TheHttpEntryOfAList", {}, {"http=a:1;https=b:2", "", false, ""}, "http://h.example/a", true, "a:1",
     kLoopback},
    {"ASchemeWithoutAnEntryGoesDirectly", {}, {"https=b:2", "", false, ""}, "http://h.example/a", false, "",
     kLoopback},
    {"ASchemeWithoutAnEntryTakesTheSocksServer", {}, {"https=b:2;socks=c:3", "", false, ""},
     "http://h.example/a", true, "socks4://c:3", kLoopback},
    {"LocalNamesBypassWithLocal", {}, {"s:2", "<local>", false, ""}, "http://intranet/a", true, "", kLoopback},
    {"DottedNamesAreNotLocal", {}, {"s:2", "<local>", false, ""}, "http://h.example/a", true, "s:2", kLoopback},
    {"BypassEntriesBecomeNoProxyEntries", {{"NO_PROXY", "u.example"}},
     {"s:2", "*.Corp.example; 10.*;192.168.1.*;files;*mid*;1.2.3.4.*", false, ""}, "http://h.example/a", true,
     "s:2", "corp.example,10.0.0.0/8,192.168.1.0/24,files,u.example,localhost,127.0.0.1,::1"},
};

class ProxyRouteTest : public ::testing::TestWithParam<RouteRow> {};

}  // namespace

TEST_P(ProxyRouteTest, ChoosesAsTheUserSetIt)
{
    const RouteRow& row = GetParam();
    ProxyRoute route = ChooseProxyRoute(row.url, row.system, [&](const char* name) -> const char* {
        auto found = row.environment.find(name);
        return found == row.environment.end() ? nullptr : found->second.c_str();
    });
    EXPECT_EQ(route.setProxy, row.setProxy);
    EXPECT_EQ(route.setProxy ? route.proxy : "", row.setProxy ? row.proxy : "");
    EXPECT_EQ(route.noProxy, row.noProxy);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProxyRouteTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<RouteRow>& info) { return std::string(info.param.name); });
