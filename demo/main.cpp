// quorvel-demo-services PORT: serves the demo account, meeting and resource
// services on 127.0.0.1:PORT until it is stopped (SIGTERM or SIGINT). Port 0
// takes a free port; the first line printed names the address.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <httplib.h>
#include <thread>

#include "demo/DemoContent.h"
#include "demo/DemoServices.h"

int main(int argc, char** argv)
{
    int port = argc > 1 ? std::atoi(argv[1]) : -1;
    if (port < 0 || port > 65535) {
        std::fprintf(stderr, "usage: %s PORT\n", argv[0]);
        return 2;
    }
    // The stop signals are taken by a thread of their own, where stopping
    // the server is safe (it is not inside a signal handler).
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    httplib::Server server;
    MountDemoServices(server);
    MountDemoContent(server);
    if (port == 0)
        port = server.bind_to_any_port("127.0.0.1");
    else if (!server.bind_to_port("127.0.0.1", port))
        port = -1;
    if (port <= 0) {
        std::fprintf(stderr, "cannot listen on 127.0.0.1:%s\n", argv[1]);
        return 1;
    }
    std::printf("demo services on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);
    std::thread([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        server.stop();
    }).detach();
    return server.listen_after_bind() ? 0 : 1;
}
