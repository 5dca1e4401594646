// qv-download URL DEST: downloads URL into DEST with the client's resumable
// segmented engine. Shows progress, restarts failed or stalled downloads as
// the caching job does, and exits 0 only when DEST is complete. Ctrl-C stops
// cleanly; running it again resumes.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>

#include "common/SteadyClock.h"
#include "framework/HeadlessOwner.h"
#include "net/HttpDownload.h"
#include "tools/DownloadSupervisor.h"

namespace {

constexpr UINT WM_STOP_REQUEST = WM_USER + 1;

double Elapsed(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

std::string Mebibytes(int64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    return text;
}

// One progress line: on a terminal rewritten in place, else once a second.
void ShowProgress(const CHttpDownload& engine, double seconds, bool terminal)
{
    int64_t done = engine.m_nDownloaded, size = engine.m_nFileSize;
    int percent = size > 0 ? static_cast<int>(100.0 * done / size) : 0;
    double rate = seconds > 0 ? done / 1048576.0 / seconds : 0;
    std::printf("%s%s / %s  %3d%%  %.1f MiB/s%s", terminal ? "\r" : "", Mebibytes(done).c_str(),
                Mebibytes(size).c_str(), percent, rate, terminal ? "   " : "\n");
    std::fflush(stdout);
}

bool DirectoryWritable(const std::string& dest, std::string& directory)
{
    size_t slash = dest.rfind('/');
    directory = slash == std::string::npos ? "." : slash == 0 ? "/" : dest.substr(0, slash);
    return access(directory.c_str(), W_OK | X_OK) == 0;
}

// Ctrl-C and SIGTERM become a posted stop request for the main loop.
void WatchStopSignals(HWND owner)
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals, owner] {
        int signal = 0;
        sigwait(&signals, &signal);
        PostMessageA(owner, WM_STOP_REQUEST, 0, 0);
    }).detach();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s URL DEST\n", argv[0]);
        return 2;
    }
    const char* url = argv[1];
    const char* dest = argv[2];
    std::string directory;
    if (!DirectoryWritable(dest, directory)) {
        std::printf("qv-download: cannot write to %s: %s\n", directory.c_str(), std::strerror(errno));
        return 1;
    }

    CHeadlessOwner owner;
    WatchStopSignals(owner.GetSafeHwnd());
    CHttpDownload engine;
    engine.m_hOwnerWnd = owner.GetSafeHwnd();
    bool terminal = isatty(STDOUT_FILENO);
    auto started = std::chrono::steady_clock::now();
    DownloadSupervisor supervisor(SteadySeconds());
    engine.Start(url, dest);

    for (;;) {
        CHeadlessOwner::Message message;
        DownloadSupervisor::Action action;
        if (!owner.WaitMessage(message, 1000)) {
            ShowProgress(engine, Elapsed(started), terminal);
            action = supervisor.OnTick(engine.m_nDownloaded, SteadySeconds(), engine.IsFinishing());
        } else if (message.msg == WM_STOP_REQUEST) {
            engine.Stop();
            std::printf("%sqv-download: stopped; run it again to resume\n", terminal ? "\n" : "");
            return 130;
        } else if (message.msg == WM_DOWNLOAD_NOTIFY &&
                   message.lParam == reinterpret_cast<LPARAM>(&engine)) {
            action = supervisor.OnEngineState(static_cast<uint8_t>(message.wParam),
                                              engine.m_nDownloaded, SteadySeconds());
        } else {
            continue;
        }
        if (action == DownloadSupervisor::Action::Done) {
            ShowProgress(engine, Elapsed(started), terminal);
            std::printf("%sqv-download: %s complete, %lld bytes in %.2f s\n", terminal ? "\n" : "",
                        dest, static_cast<long long>(engine.m_nFileSize.load()), Elapsed(started));
            return 0;
        }
        if (action == DownloadSupervisor::Action::GiveUp) {
            engine.Stop();
            std::printf("%sqv-download: failed: %d attempts in a row without progress (the server "
                        "refused or broke off the transfer, or the disk lacks room for the file "
                        "plus 100 MiB)\n", terminal ? "\n" : "", supervisor.FailuresWithoutProgress());
            return 1;
        }
        if (action == DownloadSupervisor::Action::Restart)
            engine.Start(url, dest);
    }
}
