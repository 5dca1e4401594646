// Which proxy a request goes through. The environment comes first, read as
// libcurl reads it: when one of its proxy variables (http_proxy,
// https_proxy, ALL_PROXY, ...) is set, libcurl is left to them. Otherwise
// the proxy of the system's settings (net/SystemProxy.h) becomes the
// process's http_proxy and https_proxy at start-up, so that libcurl again
// chooses per connection, by scheme, on every redirect too. Loopback is
// always reached directly, and the user's NO_PROXY keeps applying beside
// the system's bypass list.
#pragma once

#include <curl/curl.h>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "net/SystemProxy.h"

// A variable's value, or null when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// What the process takes from the system's settings: the proxy variables
// to set (none when the environment names a proxy or the system none) and
// the bypass list the requests then follow.
struct SystemProxyAdoption {
    std::vector<std::pair<std::string, std::string>> variables;
    std::string bypass;
};

SystemProxyAdoption AdoptionOf(const SystemProxy& system, const EnvironmentLookup& environment);

// CURLOPT_NOPROXY of a request to `url`: the adopted bypass list, the
// user's NO_PROXY, loopback.
std::string NoProxyFor(const std::string& url, const std::string& bypass, const EnvironmentLookup& environment);

// Reads the system's settings once and sets the proxy variables they call
// for. Call at the start of main, before any thread exists: setting a
// variable races with every reader. Changes made to the settings later
// apply from the next start.
void AdoptSystemProxy();

// The proxy route of one request; an automatic configuration (WPAD, PAC)
// is not followed, which the debug log says once.
void ApplyProxyRoute(CURL* easy, const std::string& url);
