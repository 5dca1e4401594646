// Which proxy a request goes through. The environment comes first, read as
// libcurl reads it: when one of its proxy variables (http_proxy,
// https_proxy, ALL_PROXY, ...) is set, libcurl is left to them. Otherwise
// the proxy of the system's settings is used (net/SystemProxy.h). Loopback
// is always reached directly, and the user's NO_PROXY keeps applying
// beside it.
#pragma once

#include <curl/curl.h>
#include <functional>
#include <string>

#include "net/SystemProxy.h"

struct ProxyRoute {
    bool setProxy = false;  // CURLOPT_PROXY is set to `proxy`; otherwise libcurl's own choice stands
    std::string proxy;      // "" goes directly
    std::string noProxy;    // CURLOPT_NOPROXY
};

// A variable's value, or null when it is not set.
using EnvironmentLookup = std::function<const char*(const char* name)>;

ProxyRoute ChooseProxyRoute(const std::string& url, const SystemProxy& system, const EnvironmentLookup& environment);

// The route of one request from this process's environment and the
// system's settings; an automatic configuration (WPAD, PAC) is not followed,
// which the debug log says once.
void ApplyProxyRoute(CURL* easy, const std::string& url);
