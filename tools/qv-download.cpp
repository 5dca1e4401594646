// qv-download URL DEST: downloads URL into DEST with the client's resumable
// segmented engine. Shows progress, restarts failed or stalled downloads as
// the caching job does, and exits 0 only when DEST is complete. Ctrl-C stops
// cleanly; running it again resumes.
//
// qv-download -i LIST -d DIR: every URL of LIST (one a line; blank lines and
// lines starting with "#" skipped) into DIR, named as the cache names them,
// one after another with one engine (and its kept connections); a summary
// line at the end; exit 0 only when every file is complete.
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "cache/CacheLayout.h"
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

enum class Outcome { Complete, Failed, Stopped };

// Downloads one file with the caching job's rules; the engine's connections
// stay for the next.
Outcome Download(CHeadlessOwner& owner, CHttpDownload& engine, const std::string& url, const std::string& dest,
                 bool terminal)
{
    auto started = std::chrono::steady_clock::now();
    DownloadSupervisor supervisor(SteadySeconds());
    engine.Start(url.c_str(), dest.c_str());
    for (;;) {
        CHeadlessOwner::Message message;
        DownloadSupervisor::Action action;
        if (!owner.WaitMessage(message, 1000)) {
            ShowProgress(engine, Elapsed(started), terminal);
            action = supervisor.OnTick(engine.m_nDownloaded, SteadySeconds(), engine.IsFinishing());
        } else if (message.msg == WM_STOP_REQUEST) {
            engine.Stop();
            std::printf("%sqv-download: stopped; run it again to resume\n", terminal ? "\n" : "");
            return Outcome::Stopped;
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
                        dest.c_str(), static_cast<long long>(engine.m_nFileSize.load()), Elapsed(started));
            return Outcome::Complete;
        }
        if (action == DownloadSupervisor::Action::GiveUp) {
            engine.Stop();
            std::printf("%sqv-download: failed: %d attempts in a row without progress (the server "
                        "refused or broke off the transfer, or the disk lacks room for the file "
                        "plus 100 MiB)\n", terminal ? "\n" : "", supervisor.FailuresWithoutProgress());
            return Outcome::Failed;
        }
        if (action == DownloadSupervisor::Action::Restart)
            engine.Start(url.c_str(), dest.c_str());
    }
}

// The URLs of a list file: one a line, blank and "#" lines skipped.
bool ReadList(const char* path, std::vector<std::string>& urls)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        size_t first = line.find_first_not_of(" \t\r");
        size_t last = line.find_last_not_of(" \t\r");
        if (first != std::string::npos && line[first] != '#')
            urls.push_back(line.substr(first, last - first + 1));
    }
    return !in.bad();
}

int DownloadList(CHeadlessOwner& owner, CHttpDownload& engine, const char* list, const std::string& dir,
                 bool terminal)
{
    std::vector<std::string> urls;
    if (!ReadList(list, urls)) {
        std::printf("qv-download: cannot read %s: %s\n", list, std::strerror(errno));
        return 1;
    }
    std::vector<std::string> failures;
    int64_t bytes = 0;
    for (const std::string& url : urls) {
        std::string name;
        if (!CCacheLayout::FileNameOf(url, name)) {
            failures.push_back(url + ": unsafe file name");
            continue;
        }
        Outcome outcome = Download(owner, engine, url, dir + "/" + name, terminal);
        if (outcome == Outcome::Stopped)
            return 130;
        if (outcome == Outcome::Failed)
            failures.push_back(url);
        else
            bytes += engine.m_nFileSize;
    }
    std::printf("qv-download: %zu files, %lld bytes, %zu failed\n", urls.size(), static_cast<long long>(bytes),
                failures.size());
    for (const std::string& failure : failures)
        std::printf("  failed: %s\n", failure.c_str());
    return failures.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    bool list = argc == 5 && std::strcmp(argv[1], "-i") == 0 && std::strcmp(argv[3], "-d") == 0;
    if (argc != 3 && !list) {
        std::fprintf(stderr, "usage: %s URL DEST\n       %s -i LIST -d DIR\n", argv[0], argv[0]);
        return 2;
    }
    std::string directory;
    std::string dest = list ? std::string(argv[4]) + "/" : argv[2];
    if (!DirectoryWritable(dest, directory)) {
        std::printf("qv-download: cannot write to %s: %s\n", directory.c_str(), std::strerror(errno));
        return 1;
    }

    CHeadlessOwner owner;
    WatchStopSignals(owner.GetSafeHwnd());
    CHttpDownload engine;
    engine.m_hOwnerWnd = owner.GetSafeHwnd();
    bool terminal = isatty(STDOUT_FILENO);
    if (list)
        return DownloadList(owner, engine, argv[2], directory, terminal);
    switch (Download(owner, engine, argv[1], dest, terminal)) {
    case Outcome::Complete:
        return 0;
    case Outcome::Stopped:
        return 130;
    default:
        return 1;
    }
}
