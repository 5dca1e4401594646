// quorvel-demo-services [--rtt-ms N] [--conn-rate R] [--cert FILE --key FILE]
// PORT: serves the demo account, meeting and resource services on
// 127.0.0.1:PORT until it is stopped (SIGTERM or SIGINT). Port 0 takes a
// free port; the first line printed names the address. --rtt-ms and
// --conn-rate (bytes a second, with K or M) make the content a stand-in for
// a host across a wide-area link; --cert and --key (PEM) serve https.
#include <chrono>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <httplib.h>
#include <memory>
#include <sys/socket.h>
#include <thread>

#include "demo/DemoContent.h"
#include "demo/DemoServices.h"

namespace {

// "4M", "512K" or "1000000": bytes a second; -1 when it is none of these.
int64_t ParseRate(const char* text)
{
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    int64_t unit = *end == 'K' ? 1024 : *end == 'M' ? 1048576 : 1;
    if (end == text || value < 0 || (unit > 1 ? end[1] : end[0]) != '\0')
        return -1;
    return value * unit;
}


const char kHelp[] =
    "usage: quorvel-demo-services [options] PORT\n"
    "\n"
    "Serves the demo account, meeting and resource services and content files on\n"
    "127.0.0.1:PORT (0: a free port; the first line printed names the address)\n"
    "until SIGTERM or Ctrl-C.\n"
    "\n"
    "  --rtt-ms N       answer as a host N ms of round trip away (once more for\n"
    "                   each new connection)\n"
    "  --conn-rate R    send at most R bytes a second on each answer (K or M)\n"
    "  --cert FILE      serve https with this PEM certificate ...\n"
    "  --key FILE       ... and its key\n"
    "  -h, --help       this text\n"
    "  --version        the version\n"
    "\n"
    "Exit status: 0 stopped by a signal, 1 cannot listen or serve, 2 usage.\n";

// A port: digits only, 0 to 65535; -1 otherwise.
int ParsePort(const char* text)
{
    char* end = nullptr;
    long port = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && std::isdigit(static_cast<unsigned char>(text[0])) && port <= 65535
               ? static_cast<int>(port) : -1;
}

// Binds without SO_REUSEPORT (httplib's default), so a port another server
// listens on is refused instead of shared.
void ExclusiveSocketOptions(int sock)
{
    int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

}  // namespace

int main(int argc, char** argv)
{
    int rttMs = 0;
    int64_t rate = 0;
    const char* cert = nullptr;
    const char* key = nullptr;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-' && argv[arg][1] != '\0'; arg += 2) {
        if (std::strcmp(argv[arg], "-h") == 0 || std::strcmp(argv[arg], "--help") == 0) {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[arg], "--version") == 0) {
            std::printf("quorvel-demo-services %s\n", QV_VERSION);
            return 0;
        }
        const char* value = arg + 1 < argc ? argv[arg + 1] : nullptr;
        if (value && std::strcmp(argv[arg], "--rtt-ms") == 0)
            rttMs = static_cast<int>(ParseRate(value));
        else if (value && std::strcmp(argv[arg], "--conn-rate") == 0)
            rate = ParseRate(value);
        else if (value && std::strcmp(argv[arg], "--cert") == 0)
            cert = value;
        else if (value && std::strcmp(argv[arg], "--key") == 0)
            key = value;
        else
            rttMs = -1;
    }
    int port = arg + 1 == argc ? ParsePort(argv[arg]) : -1;
    if (port < 0 || rttMs < 0 || rate < 0 || !cert != !key) {
        std::fprintf(stderr, "usage: %s [--rtt-ms N] [--conn-rate BYTES[K|M]] [--cert FILE --key FILE] PORT; "
                             "--help tells more\n", argv[0]);
        return 2;
    }
    SetDemoLink(rttMs, rate, cert ? 2 : 1);
    // The stop signals are taken by a thread of their own, where stopping
    // the server is safe (it is not inside a signal handler).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::unique_ptr<httplib::Server> served;
    if (cert)
        served = std::make_unique<httplib::SSLServer>(cert, key);
    else
        served = std::make_unique<httplib::Server>();
    httplib::Server& server = *served;
    if (!server.is_valid()) {
        std::fprintf(stderr, "cannot use the certificate %s with the key %s\n", cert, key);
        return 1;
    }
    server.set_socket_options(ExclusiveSocketOptions);
    MountDemoServices(server);
    MountDemoContent(server);
    if (port == 0)
        port = server.bind_to_any_port("127.0.0.1");
    else if (!server.bind_to_port("127.0.0.1", port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%s: %s\n", argv[arg], std::strerror(errno));
        return 1;
    }
    std::printf("demo services on %s://127.0.0.1:%d\n", cert ? "https" : "http", port);
    std::fflush(stdout);
    std::thread([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
        // The listener is closed; answers still under way (a slow or stalled
        // one takes minutes) end with the process.
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        std::_Exit(0);
    }).detach();
    return server.listen_after_bind() ? 0 : 1;
}
