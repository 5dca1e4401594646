// How every request, the engine's and the services', reaches its host:
// through which proxy (net/ProxyRoute.h), trusting which certificates
// (net/CertificateTrust.h).
#pragma once

#include <curl/curl.h>
#include <string>

void ConfigureConnectivity(CURL* easy, const std::string& url);
