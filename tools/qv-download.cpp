// qv-download: downloads files with the client's resumable segmented
// engine, as the caching job does, from the command line. `qv-download -h`
// tells the forms, options and exit codes.
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <set>
#include <strings.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/CacheLayout.h"
#include "common/FileSystem.h"
#include "common/Md5.h"
#include "common/SteadyClock.h"
#include "framework/HeadlessOwner.h"
#include "net/HttpDownload.h"
#include "tools/Console.h"
#include "tools/DownloadSupervisor.h"
#include "tools/ProgressLine.h"

namespace {

constexpr UINT WM_STOP_REQUEST = WM_USER + 1;

double Elapsed(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

const char kHelp[] =
    "usage: qv-download [options] URL [DEST]\n"
    "       qv-download [options] -i LIST [-d DIR] [-j N]\n"
    "\n"
    "Downloads URL (http or https) into DEST with up to four ranges in parallel,\n"
    "resumably: DEST.tmp! and DEST.info hold what is done until DEST is complete;\n"
    "run the same command again to resume. DEST that is a directory (or ends\n"
    "in /, or is missing) means that directory, the file named after the URL.\n"
    "\n"
    "  -i LIST     download every URL of LIST (one a line; blank lines and lines\n"
    "              starting with # skipped), in order, then a summary\n"
    "  -j N        with -i, download N files at once (1 to 4, default 4) over\n"
    "              four shared connections: while files wait, one each; the\n"
    "              last files (or the one of -j 1) spread over those left\n"
    "  -d DIR      where -i puts the files (default: the current directory; made\n"
    "              when missing); two entries of one name: the second is NAME.1.EXT\n"
    "  --checksum=md5=HEX\n"
    "              the file's MD5 must be HEX: a file that differs is fetched once\n"
    "              more; when both copies agree it is kept all the same (exit 32)\n"
    "  -h, --help  this text\n"
    "  --version   the version\n"
    "\n"
    "Failures that cannot heal (a 4xx answer, a bad URL, a destination that\n"
    "cannot be written, too little disk space) end the download at once. Network\n"
    "failures and 5xx answers are tried again after 1, 2 and 4 s; the fourth failure\n"
    "in a row without progress ends it. A download without progress for 10 s is\n"
    "restarted. QUORVEL_CA_FILE names a CA file to trust besides the system's.\n"
    "\n"
    "Exit status (of the last failure, for a list):\n"
    "  0    every file complete\n"
    "  1    failed otherwise (the transfers kept breaking off)\n"
    "  2    usage: unknown option, missing argument, not an http(s) URL\n"
    "  3    not found (HTTP 404 or 410)\n"
    "  6    network problem: refused, reset, timed out, stalled, TLS\n"
    "  9    not enough disk space\n"
    "  16   the destination cannot be written\n"
    "  19   host not found\n"
    "  22   another HTTP status, or an answer without a length\n"
    "  23   too many redirects\n"
    "  32   the file's MD5 is not the one given\n"
    "  130  stopped (Ctrl-C, SIGTERM)\n";

enum ExitCode {
    kComplete = 0, kOther = 1, kUsage = 2, kNotFound = 3, kNetwork = 6, kDiskSpace = 9,
    kCannotWrite = 16, kHostNotFound = 19, kBadAnswer = 22, kRedirects = 23, kChecksum = 32, kStopped = 130,
};

int ExitCodeOf(const DownloadFailure& failure)
{
    switch (failure.cause) {
    case FailureCause::HttpStatus:
        return failure.status == 404 || failure.status == 410 ? kNotFound : kBadAnswer;
    case FailureCause::BadAnswer: return kBadAnswer;
    case FailureCause::Redirects: return kRedirects;
    case FailureCause::BadUrl: return kUsage;
    case FailureCause::HostNotFound: return kHostNotFound;
    case FailureCause::Network:
    case FailureCause::Tls: return kNetwork;
    case FailureCause::DiskSpace: return kDiskSpace;
    case FailureCause::FileAccess: return kCannotWrite;
    case FailureCause::Checksum: return kChecksum;
    default: return kOther;
    }
}

// Trying again can help: the network, a server in trouble (5xx, 408, 429),
// transfers that broke off, a file replaced on the server meanwhile.
bool MayHeal(const DownloadFailure& failure)
{
    long s = failure.status;
    return failure.cause == FailureCause::Network || failure.cause == FailureCause::Transfer ||
           failure.cause == FailureCause::Changed ||
           (failure.cause == FailureCause::HttpStatus && (s >= 500 || s == 408 || s == 429));
}

void Say(const char* format, const std::string& a, const std::string& b = std::string())
{
    std::fprintf(stderr, format, a.c_str(), b.c_str());
}

// Where DEST puts the file: DEST itself, or the directory DEST (an
// existing one, or one written with a trailing "/", ".", or none) with the
// name the cache would give the URL's file. False when there is no such name.
bool Destination(const std::string& url, const std::string& dest, std::string& path)
{
    bool directory = dest.empty() || dest == "." || dest.back() == '/' || fsys::Stat(dest).directory;
    if (!directory) {
        path = dest;
        return true;
    }
    // The name is the path's last segment: neither the query nor the
    // fragment is part of it, and an empty one is no name.
    std::string name;
    if (!CCacheLayout::FileNameOf(url.substr(0, url.find_first_of("?#")), name) || name.empty())
        return false;
    std::string dir = dest.empty() ? "." : dest;
    path = dir + (dir.back() == '/' ? "" : "/") + name;
    return true;
}

// The destination's directory must exist and take new files: else nothing
// is started (and nothing left behind).
bool Writable(const std::string& path)
{
    size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    if (fsys::CanWriteIn(directory))
        return true;
    Say("qv-download: cannot write %s: %s\n", path, std::strerror(errno));
    return false;
}

// An http or https URL with a host; anything else is refused before a byte moves.
bool UsableUrl(const std::string& url)
{
    auto starts = [&](const char* scheme) { return strncasecmp(url.c_str(), scheme, std::strlen(scheme)) == 0; };
    size_t host = starts("http://") ? 7 : starts("https://") ? 8 : 0;
    if (host > 0 && url.size() > host && url[host] != '/')
        return true;
    Say("qv-download: not an http or https URL: '%s'\n", url);
    return false;
}

// Said after a stop or failure only when a temporary file was kept.
const char* ResumeHint(const std::string& dest)
{
    return fsys::Stat(dest + ".tmp!", false).exists ? "; run it again to resume" : "";
}

// What one entry is to fetch, and how it ended.
struct Entry {
    std::string url, dest, md5;
    int result = kStopped;
};

// Up to `lanes` downloads at once, each with the caching job's rules and
// the retry rule above, through one pool of connections that stays from
// file to file. A file whose segments wait for connections has them before
// another file starts.
class Downloader {
public:
    static constexpr size_t kMaxLanes = CConnectionCache::kMaxInUse;

    Downloader(CHeadlessOwner& owner, size_t lanes, bool terminal) : m_owner(owner), m_bTerminal(terminal)
    {
        for (size_t i = 0; i < lanes; ++i) {
            m_lanes.push_back(std::make_unique<Lane>());
            m_lanes[i]->engine.ShareConnections(m_pool);
            m_lanes[i]->engine.m_hOwnerWnd = owner.GetSafeHwnd();
        }
    }

    // Runs every entry, setting its result; false when stopped.
    bool Run(std::vector<Entry>& entries)
    {
        m_started = std::chrono::steady_clock::now();
        m_progress = ProgressLine();
        m_tLastLine = -kLogLineSeconds;
        for (size_t next = 0;;) {
            bool heldBack = false;
            while (next < entries.size() && (heldBack = !Start(entries[next])) == false)
                ++next;
            // While files wait for a lane, the connections carry them side
            // by side; one lane has the connections to itself.
            for (auto& lane : m_lanes)
                lane->engine.AllowMoreConnections(next >= entries.size() || m_lanes.size() == 1);
            if (Busy() == 0)
                return true;
            CHeadlessOwner::Message message;
            bool got = m_owner.WaitMessage(message, heldBack ? 50 : 1000);
            if (SteadySeconds() >= m_tNextTick)
                Tick();
            if (got && message.msg == WM_STOP_REQUEST)
                return Stop();
            if (Lane* lane = got && message.msg == WM_DOWNLOAD_NOTIFY ? Of(message.lParam) : nullptr)
                OnState(*lane, static_cast<uint8_t>(message.wParam));
        }
    }

private:
    struct Lane {
        CHttpDownload engine;
        Entry* entry = nullptr;  // null: free
        DownloadSupervisor supervisor{0};
        std::chrono::steady_clock::time_point started;
    };

    size_t Busy() const
    {
        return std::count_if(m_lanes.begin(), m_lanes.end(), [](const auto& lane) { return lane->entry; });
    }

    Lane* Of(LPARAM engine)
    {
        for (auto& lane : m_lanes) {
            if (lane->entry && reinterpret_cast<LPARAM>(&lane->engine) == engine)
                return lane.get();
        }
        return nullptr;
    }

    // False when no lane is free, or a file in flight waits for connections.
    bool Start(Entry& entry)
    {
        Lane* free = nullptr;
        for (auto& lane : m_lanes) {
            if (lane->entry && lane->engine.WantsConnections())
                return false;
            if (!lane->entry && !free)
                free = lane.get();
        }
        if (!free)
            return false;
        free->entry = &entry;
        free->supervisor = DownloadSupervisor(SteadySeconds());
        free->started = std::chrono::steady_clock::now();
        free->engine.Start(entry.url.c_str(), entry.dest.c_str(), 0, entry.md5.c_str());
        return true;
    }

    void Tick()
    {
        m_tNextTick = SteadySeconds() + 1;
        Show();
        for (auto& lane : m_lanes) {
            CHttpDownload& engine = lane->engine;
            bool offTheLink = engine.IsFinishing() || engine.WaitsForConnection();
            if (!lane->entry ||
                lane->supervisor.OnTick(engine.Progress(), SteadySeconds(), offTheLink) == DownloadSupervisor::Action::Wait)
                continue;
            EndLine();
            if (lane->supervisor.FailuresWithoutProgress() > DownloadSupervisor::kMaxRestarts) {
                GiveUp(*lane, {FailureCause::Network, 0, "stalled: no progress for 10 s, 4 times in a row"});
                continue;
            }
            Say("qv-download: %s stalled, restarting\n", lane->entry->dest);
            m_progress.Restart();
            engine.Start(lane->entry->url.c_str(), lane->entry->dest.c_str(), 0, lane->entry->md5.c_str());
        }
    }

    void OnState(Lane& lane, uint8_t state)
    {
        CHttpDownload& engine = lane.engine;
        auto action = lane.supervisor.OnEngineState(state, engine.Progress(), SteadySeconds());
        if (action == DownloadSupervisor::Action::Done)
            return Complete(lane);
        DownloadFailure failure = engine.LastFailure();
        if (action == DownloadSupervisor::Action::GiveUp || !MayHeal(failure))
            return GiveUp(lane, failure);
        // The engine tries again by itself, after its back-off.
        EndLine();
        Say("qv-download: %s, retrying\n", failure.text);
    }

    bool Stop()
    {
        for (auto& lane : m_lanes)
            lane->engine.Stop();
        EndLine();
        for (auto& lane : m_lanes) {
            if (lane->entry)
                std::fprintf(stderr, "qv-download: stopped%s\n", ResumeHint(lane->entry->dest));
        }
        return false;
    }

    // On a terminal the line (of every file in flight) is redrawn in place
    // every second, cut to its width; into a file or pipe a line goes at
    // most every kLogLineSeconds.
    void Show()
    {
        int64_t done = 0, size = 0;
        for (auto& lane : m_lanes) {
            if (lane->entry) {
                done += lane->engine.Progress();
                size += lane->engine.m_nFileSize;
            }
        }
        double now = Elapsed(m_started);
        m_progress.Sample(done, size, now);
        std::string text = m_progress.Text();
        if (m_bTerminal) {
            text.resize(std::min(text.size() + 3, TerminalColumns() - 1), ' ');
            std::printf("\r%s", text.c_str());
        } else if (now - m_tLastLine >= kLogLineSeconds) {
            m_tLastLine = now;
            std::printf("%s\n", text.c_str());
        }
        std::fflush(stdout);
        m_bLineOpen = m_bTerminal;
    }

    void EndLine()
    {
        if (std::exchange(m_bLineOpen, false))
            std::printf("\n");
        std::fflush(stdout);
    }

    void Complete(Lane& lane)
    {
        EndLine();
        Entry& entry = *std::exchange(lane.entry, nullptr);
        m_progress.Restart();
        if (lane.engine.ChecksumOverruled()) {
            Say("qv-download: %s: its MD5 is not the one given, though two copies agree; kept\n", entry.dest);
            entry.result = kChecksum;
            return;
        }
        std::printf("qv-download: %s complete, %lld bytes in %.2f s\n", entry.dest.c_str(),
                    static_cast<long long>(lane.engine.m_nFileSize.load()), Elapsed(lane.started));
        entry.result = kComplete;
    }

    void GiveUp(Lane& lane, const DownloadFailure& failure)
    {
        lane.engine.Stop();
        EndLine();
        Entry& entry = *std::exchange(lane.entry, nullptr);
        m_progress.Restart();
        Say("qv-download: failed: %s%s\n", failure.text, ResumeHint(entry.dest));
        if (failure.cause == FailureCause::Tls)
            std::fprintf(stderr, "qv-download: a CA of your own is trusted when QUORVEL_CA_FILE names its file\n");
        entry.result = ExitCodeOf(failure);
    }

    CHeadlessOwner& m_owner;
    bool m_bTerminal;
    CConnectionCache m_pool;
    std::vector<std::unique_ptr<Lane>> m_lanes;
    static constexpr double kLogLineSeconds = 10;
    std::chrono::steady_clock::time_point m_started;
    int64_t m_tNextTick = 0;
    bool m_bLineOpen = false;
    double m_tLastLine = 0;  // seconds into the run of the last line into a file
    ProgressLine m_progress;
};

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

// A path this run has not given to another entry: "same.bin", then
// "same.1.bin", "same.2.bin" ... as aria2c numbers them.
std::string UnusedPath(const std::string& path, std::set<std::string>& used)
{
    size_t slash = path.rfind('/') + 1, dot = path.rfind('.');
    if (dot == std::string::npos || dot <= slash)
        dot = path.size();
    std::string candidate = path;
    for (int n = 1; !used.insert(candidate).second; ++n)
        candidate = path.substr(0, dot) + "." + std::to_string(n) + path.substr(dot);
    return candidate;
}

// Every URL into `dir` (made when missing), `lanes` at once; a summary at
// the end. The exit code is the last failure's.
int DownloadList(CHeadlessOwner& owner, size_t lanes, const char* list, const std::string& dir)
{
    std::vector<std::string> urls;
    if (!ReadList(list, urls)) {
        Say("qv-download: cannot read %s: %s\n", list, std::strerror(errno));
        return kUsage;
    }
    CCacheLayout::MakeDirs(dir + "/");
    std::set<std::string> used;
    std::vector<std::string> why(urls.size()), renamed;
    std::vector<Entry> entries(urls.size()), fetched;
    for (size_t i = 0; i < urls.size(); ++i) {
        Entry& entry = entries[i];
        entry.url = urls[i];
        entry.result = kUsage;
        if (!UsableUrl(entry.url))
            why[i] = ": not an http or https URL";
        else if (!Destination(entry.url, dir + "/", entry.dest))
            why[i] = ": unsafe file name";
        else if (std::string unused = UnusedPath(entry.dest, used); unused != entry.dest)
            renamed.push_back(entry.url + " -> " + (entry.dest = unused));
        if (!entry.dest.empty() && !Writable(entry.dest))
            entry.result = kCannotWrite;
        else if (!entry.dest.empty())
            fetched.push_back(entry);
    }
    Downloader downloader(owner, lanes, StdoutIsTerminal());
    if (!downloader.Run(fetched))
        return kStopped;
    std::vector<std::string> failures;
    int64_t bytes = 0;
    int code = kComplete;
    for (size_t i = 0, f = 0; i < entries.size(); ++i) {
        if (!entries[i].dest.empty() && entries[i].result != kCannotWrite)
            entries[i].result = fetched[f++].result;
        if (entries[i].result == kComplete) {
            bytes += fsys::Stat(entries[i].dest).size;
            continue;
        }
        code = entries[i].result;
        failures.push_back(entries[i].url + why[i]);
    }
    std::printf("qv-download: %zu files, %lld bytes, %zu failed\n", urls.size(), static_cast<long long>(bytes),
                failures.size());
    for (const std::string& failure : failures)
        std::printf("  failed: %s\n", failure.c_str());
    for (const std::string& name : renamed)
        std::printf("  renamed: %s (another entry has its name)\n", name.c_str());
    return code;
}

struct Options {
    const char* list = nullptr;
    const char* dir = nullptr;
    size_t lanes = Downloader::kMaxLanes;
    std::string md5;
    std::vector<std::string> operands;
};

// -1 when the command line is good, else the exit code to end with.
int ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kHelp, stdout);
            return kComplete;
        }
        if (arg == "--version") {
            std::printf("qv-download %s\n", QV_VERSION);
            return kComplete;
        }
        if ((arg == "-i" || arg == "-d") && i + 1 < argc) {
            (arg == "-i" ? options.list : options.dir) = argv[++i];
        } else if (arg == "-j" && i + 1 < argc) {
            std::string n = argv[++i];
            if (n.size() != 1 || n[0] < '1' || n[0] > '0' + int(Downloader::kMaxLanes)) {
                Say("qv-download: -j %s: give 1 to %s\n", n, std::to_string(Downloader::kMaxLanes));
                return kUsage;
            }
            options.lanes = static_cast<size_t>(n[0] - '0');
        } else if (arg.rfind("--checksum=", 0) == 0) {
            options.md5 = arg.substr(11);
            if (strncasecmp(options.md5.c_str(), "md5=", 4) != 0 || !IsMd5Hex(options.md5.substr(4))) {
                Say("qv-download: %s: give --checksum=md5=32 HEX DIGITS\n", arg);
                return kUsage;
            }
            options.md5.erase(0, 4);
        } else if (arg == "--") {
            options.operands.insert(options.operands.end(), argv + i + 1, argv + argc);
            break;
        } else if (arg.size() > 1 && arg[0] == '-') {
            Say("qv-download: %s: %s\n", arg, arg == "-i" || arg == "-d" || arg == "-j" ? "needs an argument" : "unknown option");
            return kUsage;
        } else {
            options.operands.push_back(arg);
        }
    }
    size_t wanted = options.list ? 0 : options.operands.size();
    if ((options.list && !options.operands.empty()) || (!options.list && (wanted < 1 || wanted > 2)) ||
        ((options.dir || options.lanes != Downloader::kMaxLanes) && !options.list) || (options.list && !options.md5.empty())) {
        std::fprintf(stderr, "usage: qv-download [options] URL [DEST] | -i LIST [-d DIR] [-j N]; -h tells more\n");
        return kUsage;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv)
{
    // File names from URLs are stored in the user's code page.
    std::setlocale(LC_ALL, "");
    Options options;
    int parsed = ParseOptions(argc, argv, options);
    if (parsed >= 0)
        return parsed;
    std::string url, dest;
    if (!options.list) {
        url = options.operands[0];
        if (!UsableUrl(url))
            return kUsage;
        if (!Destination(url, options.operands.size() > 1 ? options.operands[1] : ".", dest)) {
            Say("qv-download: no file name in %s; give DEST\n", url);
            return kUsage;
        }
        if (!Writable(dest))
            return kCannotWrite;
    }

    CHeadlessOwner owner;
    // The first request becomes a posted stop for the main loop; a second
    // ends the process at once (the side file counts only synced bytes, so
    // the pair stays resumable).
    WatchStopRequests([hwnd = owner.GetSafeHwnd()] { PostMessageA(hwnd, WM_STOP_REQUEST, 0, 0); }, kStopped);
    if (options.list)
        return DownloadList(owner, options.lanes, options.list, options.dir ? options.dir : ".");
    std::vector<Entry> one{{url, dest, options.md5}};
    return Downloader(owner, 1, StdoutIsTerminal()).Run(one) ? one[0].result : kStopped;
}
