#include "tests/support/SlowResolver.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <netdb.h>
#include <thread>

namespace {

std::atomic<int> g_slowLookupMs{4000};
std::atomic<int> g_slowLookupsBegun{0};

bool IsSlowName(const char* node)
{
    static const char kSuffix[] = ".slow.test";
    size_t length = node ? std::strlen(node) : 0;
    return length >= sizeof kSuffix - 1 && std::strcmp(node + length - (sizeof kSuffix - 1), kSuffix) == 0;
}

}  // namespace

void SetSlowLookupMs(int milliseconds)
{
    g_slowLookupMs = milliseconds;
}

int SlowLookupsBegun()
{
    return g_slowLookupsBegun;
}

std::string SlowHostUrl(int port, const std::string& path)
{
    return "http://content.slow.test:" + std::to_string(port) + path;
}

// Takes the place of the C library's (the transport looks it up
// dynamically, and the executable's own definition comes first).
extern "C" int getaddrinfo(const char* node, const char* service, const struct addrinfo* hints,
                           struct addrinfo** result)
{
    using Lookup = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
    static const auto real = reinterpret_cast<Lookup>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (IsSlowName(node)) {
        ++g_slowLookupsBegun;
        std::this_thread::sleep_for(std::chrono::milliseconds(g_slowLookupMs.load()));
        node = "127.0.0.1";
    }
    return real(node, service, hints, result);
}
