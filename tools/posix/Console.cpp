#include "tools/Console.h"

#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

void WatchStopRequests(std::function<void()> first, int exitCode)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, first = std::move(first), exitCode] {
        int signal = 0;
        sigwait(&signals, &signal);
        first();
        sigwait(&signals, &signal);
        _exit(exitCode);
    }).detach();
}

bool StdoutIsTerminal()
{
    return isatty(STDOUT_FILENO);
}

size_t TerminalColumns()
{
    struct winsize size {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

std::vector<std::string> Arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv, argv + argc);
}
