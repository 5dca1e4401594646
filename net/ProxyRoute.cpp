#include "net/ProxyRoute.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <vector>

#include "common/Environment.h"
#include "common/Trace.h"
#include "common/UrlText.h"
#include "net/UrlHost.h"

namespace {

constexpr const char* kLoopback = "localhost,127.0.0.1,::1";

// The proxy variables libcurl reads (its http_proxy is lower case only).
constexpr const char* kProxyVariables[] = {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"};

std::vector<std::string> SplitList(std::string_view text, std::string_view separators)
{
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = std::min(text.find_first_of(separators, start), text.size());
        if (end > start)
            items.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return items;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

void Append(std::string& list, const std::string& item)
{
    if (!item.empty())
        list += (list.empty() ? "" : ",") + item;
}

// The user's NO_PROXY, then loopback. A lone "*" (no proxy for any host)
// means that only on its own, so it stays alone.
std::string NoProxyOfUser(const EnvironmentLookup& environment)
{
    const char* user = environment("no_proxy");
    if (!user || !*user)
        user = environment("NO_PROXY");
    std::string list = user ? user : "";
    if (list == "*")
        return list;
    Append(list, kLoopback);
    return list;
}

bool EnvironmentNamesProxy(const EnvironmentLookup& environment)
{
    return std::any_of(std::begin(kProxyVariables), std::end(kProxyVariables), [&](const char* name) {
        const char* value = environment(name);
        return value && *value;
    });
}

// The system's server for the URL's scheme: a lone "host:port" serves
// every scheme; in a per-scheme list a scheme without an entry goes
// through the SOCKS server when there is one, else directly.
std::string ServerFor(const std::string& servers, bool https)
{
    std::string socks;
    for (const std::string& entry : SplitList(servers, "; ")) {
        size_t equals = entry.find('=');
        if (equals == std::string::npos)
            return entry;
        std::string scheme = Lower(entry.substr(0, equals));
        std::string server = entry.substr(equals + 1);
        if (scheme == (https ? "https" : "http"))
            return server;
        if (scheme == "socks")
            socks = "socks4://" + server;
    }
    return socks;
}

// A bypass entry as libcurl's NO_PROXY takes it: a name covers its
// subdomains ("*.corp.example" is "corp.example"), an IPv4 prefix with a
// wildcard becomes a range ("10.*" is "10.0.0.0/8"). "" for what it cannot
// express.
std::string NoProxyEntry(std::string entry)
{
    if (entry.rfind("*.", 0) == 0)
        entry.erase(0, 2);
    size_t star = entry.find('*');
    if (star == std::string::npos)
        return entry;
    // What is left to express: "10.*", "192.168.*", "192.168.1.*".
    if (star < 2 || star + 1 != entry.size() || entry[star - 1] != '.')
        return std::string();
    std::string prefix = entry.substr(0, star - 1);
    size_t octets = SplitList(prefix, ".").size();
    bool digits = std::all_of(prefix.begin(), prefix.end(), [](unsigned char c) { return c == '.' || std::isdigit(c); });
    if (octets > 3 || !digits)
        return std::string();
    for (size_t i = octets; i < 4; ++i)
        prefix += ".0";
    return prefix + "/" + std::to_string(8 * octets);
}

}  // namespace

SystemProxyAdoption AdoptionOf(const SystemProxy& system, const EnvironmentLookup& environment)
{
    SystemProxyAdoption adoption;
    if (EnvironmentNamesProxy(environment))
        return adoption;
    for (bool https : {false, true}) {
        std::string server = ServerFor(system.servers, https);
        if (!server.empty())
            adoption.variables.emplace_back(https ? "https_proxy" : "http_proxy", server);
    }
    if (!adoption.variables.empty())
        adoption.bypass = system.bypass;
    return adoption;
}

std::string NoProxyFor(const std::string& url, const std::string& bypass, const EnvironmentLookup& environment)
{
    std::string user = NoProxyOfUser(environment);
    if (user == "*")
        return user;
    std::string list;
    bool local = false;
    for (const std::string& entry : SplitList(Lower(bypass), "; ,\t\r\n")) {
        if (entry == "<local>")
            local = true;
        else
            Append(list, NoProxyEntry(entry));
    }
    Append(list, user);
    // Host names without a dot are those of the local network. NO_PROXY
    // cannot say "every name without a dot", so the request's own host is
    // named: a redirect to a dotted host still takes the proxy, though a
    // redirect to another dotless host takes it too.
    std::string host = HostOf(url);
    if (local && host.find_first_of(".:") == std::string::npos)
        Append(list, host);
    return list;
}

namespace {

std::mutex g_adoptedLock;
SystemProxy g_adopted;  // the settings read at start-up
std::string g_bypass;   // the bypass list the requests follow

}  // namespace

void AdoptSystemProxy()
{
    SystemProxy system = ReadSystemProxy();
    SystemProxyAdoption adoption = AdoptionOf(system, [](const char* name) { return std::getenv(name); });
    for (const auto& [name, value] : adoption.variables)
        SetEnvironmentText(name.c_str(), value);
    std::lock_guard<std::mutex> guard(g_adoptedLock);
    g_adopted = system;
    g_bypass = adoption.bypass;
}

void ApplyProxyRoute(CURL* easy, const std::string& url)
{
    std::unique_lock<std::mutex> guard(g_adoptedLock);
    SystemProxy system = g_adopted;
    std::string bypass = g_bypass;
    guard.unlock();
    if (system.autoDetect || !system.autoConfigUrl.empty()) {
        static std::once_flag told;
        std::call_once(told, [&] {
            SupportLog("proxy: the system's automatic configuration is not followed (detection %s, script %s)",
                       system.autoDetect ? "on" : "off",
                       system.autoConfigUrl.empty() ? "none" : UrlWithoutQuery(system.autoConfigUrl).c_str());
        });
    }
    std::string noProxy = NoProxyFor(url, bypass, [](const char* name) { return std::getenv(name); });
    curl_easy_setopt(easy, CURLOPT_NOPROXY, noProxy.c_str());
}
