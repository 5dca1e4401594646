#include "net/CurlGlobal.h"

#include <curl/curl.h>
#include <mutex>

void EnsureCurlGlobal()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}
