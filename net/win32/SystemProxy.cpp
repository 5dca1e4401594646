#include "net/SystemProxy.h"

#include <windows.h>
#include <winhttp.h>

#include "common/win32/WideText.h"

namespace {

// Takes the text WinHTTP allocated and frees it.
std::string TakeText(LPWSTR text)
{
    if (!text)
        return std::string();
    std::string utf8 = WideToUtf8(text);
    GlobalFree(text);
    return utf8;
}

}  // namespace

SystemProxy ReadSystemProxy()
{
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    if (!WinHttpGetIEProxyConfigForCurrentUser(&config))
        return {};
    SystemProxy proxy;
    proxy.autoDetect = config.fAutoDetect != FALSE;
    proxy.autoConfigUrl = TakeText(config.lpszAutoConfigUrl);
    proxy.servers = TakeText(config.lpszProxy);
    proxy.bypass = TakeText(config.lpszProxyBypass);
    return proxy;
}
