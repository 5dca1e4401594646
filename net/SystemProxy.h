// The proxy the user set in the system's own settings, as Windows keeps it
// for the current user (Settings > Network > Proxy). POSIX systems keep no
// such setting for every program: there it is always empty, and the
// *_proxy environment variables are the only source.
#pragma once

#include <string>

struct SystemProxy {
    // "host:port" for every scheme, or per scheme: "http=h:p;https=h:p;socks=h:p".
    std::string servers;
    // Hosts reached directly, ';' between them: "*.corp.example;10.*;<local>".
    std::string bypass;
    bool autoDetect = false;    // WPAD
    std::string autoConfigUrl;  // a PAC script
};

// Read afresh on every call: the user may change it while the program runs.
SystemProxy ReadSystemProxy();
