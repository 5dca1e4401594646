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
    const char* variables;  // those set at start-up, "name=value" with ' ' between
    const char* noProxy;
};

constexpr const char* kLoopback = "localhost,127.0.0.1,::1";

// The system's proxy goes to libcurl per scheme, so that a redirect to the
// other scheme or another host is routed afresh.
const RouteRow kRows[] = {
    {"NothingSetGoesDirectly", {}, {}, "http://h.example/a", "", kLoopback},
    {"TheEnvironmentIsLeftToLibcurl", {{"https_proxy", "p:1"}}, {"s:2", "<local>;x.example", false, ""},
     "https://intranet/a", "", kLoopback},
    {"TheUsersNoProxyIsKeptBesideLoopback", {{"http_proxy", "p:1"}, {"NO_PROXY", "meetings.invalid"}}, {},
     "http://meetings.invalid/a", "", "meetings.invalid,localhost,127.0.0.1,::1"},
    {"ALoneStarStaysAlone", {{"no_proxy", "*"}}, {"s:2", "<local>", false, ""}, "http://intranet/a",
     "http_proxy=s:2 https_proxy=s:2", "*"},
    {"OneServerForEveryScheme", {}, {"s:2", "", false, ""}, "https://h.example/a", "http_proxy=s:2 https_proxy=s:2",
     kLoopback},
    {"EachEntryOfAListForItsScheme", {}, {"http=a:1;https=b:2", "", false, ""}, "http://h.example/a",
     "http_proxy=a:1 https_proxy=b:2", kLoopback},
    {"ASchemeWithoutAnEntryGoesDirectly", {}, {"https=b:2", "", false, ""}, "http://h.example/a",
     "https_proxy=b:2", kLoopback},
    {"ASchemeWithoutAnEntryTakesTheSocksServer", {}, {"https=b:2;socks=c:3", "", false, ""},
     "http://h.example/a", "http_proxy=socks4://c:3 https_proxy=b:2", kLoopback},
    // Only the first host is known before the request: a redirect from it
    // to a dotted host takes the proxy again.
    {"ALocalNameBypassesForItselfOnly", {}, {"s:2", "<local>", false, ""}, "http://fileserver/x",
     "http_proxy=s:2 https_proxy=s:2", "localhost,127.0.0.1,::1,fileserver"},
    {"DottedNamesAreNotLocal", {}, {"s:2", "<local>", false, ""}, "http://h.example/a",
     "http_proxy=s:2 https_proxy=s:2", kLoopback},
    {"BypassEntriesBecomeNoProxyEntries", {{"NO_PROXY", "u.example"}},
     {"s:2", "*.Corp.example; 10.*;192.168.1.*;files;*mid*;1.2.3.4.*", false, ""}, "http://h.example/a",
     "http_proxy=s:2 https_proxy=s:2",
     "corp.example,10.0.0.0/8,192.168.1.0/24,files,u.example,localhost,127.0.0.1,::1"},
};

class ProxyRouteTest : public ::testing::TestWithParam<RouteRow> {};

}  // namespace

TEST_P(ProxyRouteTest, ChoosesAsTheUserSetIt)
{
    const RouteRow& row = GetParam();
    auto environment = [&](const char* name) -> const char* {
        auto found = row.environment.find(name);
        return found == row.environment.end() ? nullptr : found->second.c_str();
    };
    SystemProxyAdoption adoption = AdoptionOf(row.system, environment);
    std::string variables;
    for (const auto& [name, value] : adoption.variables)
        variables += (variables.empty() ? "" : " ") + name + "=" + value;
    EXPECT_EQ(variables, row.variables);
    EXPECT_EQ(NoProxyFor(row.url, adoption.bypass, environment), row.noProxy);
}

INSTANTIATE_TEST_SUITE_P(Rows, ProxyRouteTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<RouteRow>& info) { return std::string(info.param.name); });
