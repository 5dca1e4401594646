#include "net/Connectivity.h"

#include "net/CertificateTrust.h"
#include "net/ProxyRoute.h"

void ConfigureConnectivity(CURL* easy, const std::string& url)
{
    ApplyProxyRoute(easy, url);
    ApplyCertificateTrust(easy);
}
