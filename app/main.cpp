#include <cstdio>
#include <cstring>

#include "app/FieldControlApp.h"

// The one application object, built before main runs.
static CFieldControlApp theApp;

namespace {

const char kHelp[] =
    "usage: quorvel-client\n"
    "\n"
    "The venue operator's client: sign in, list the company's meetings, cache a\n"
    "meeting's media under assets/ beside the program, and serve the cache from\n"
    "a local Caddy on 127.0.0.1:3000. It takes no arguments and needs an X\n"
    "display.\n"
    "\n"
    "  -h, --help  this text\n"
    "  --version   the version\n"
    "\n"
    "QUORVEL_DEBUG=1 writes a timestamped diagnostic line to stderr for each\n"
    "request and download; QUORVEL_CA_FILE names a CA file to trust for https\n"
    "content hosts besides the system's.\n";

}  // namespace

int main(int argc, char** argv)
{
    // Answered without a window (and without a display).
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("quorvel-client %s\n", QV_VERSION);
        return 0;
    }
    return AfxWinMain(argc, argv);
}
