// caching_bench [--rtt-ms N] [--conn-rate R] [--sizes MIN-MAX]
//               [--base URL --direct URL --www DIR] WORKDIR [RESOURCES] [TOTAL_MIB] [CHECK_FILES]
//
// Caches a meeting of RESOURCES files totalling TOTAL_MIB (mixed sizes: most
// under 1 MiB, every 20th a large one; with --sizes, KiB spread evenly from
// MIN to MAX) with the caching job's logic and the real engine, then the
// same URLs with `aria2c -i -j1 -x4 -s4 -k1M`, with aria2c's defaults (five
// files at once) and with `curl -Z` (50 at once; over https HTTP/2) into
// other folders of WORKDIR, checks every copy byte for byte, and times the
// integrity check (walk and check) of a cache of CHECK_FILES files. Prints
// the figures, the ratios and the floor: the total bytes at the loopback
// rate (curl, without the link's delays) plus one round trip.
//
// The content comes from the demo content server, in this process on
// 127.0.0.1, which --rtt-ms and --conn-rate (bytes a second, K or M; 0: no
// cap) make a stand-in for a host across a wide-area link. With --base,
// from the server there instead, which serves the directory --www (the
// bench writes the files into it) and is reached without the link at
// --direct, for the floor; the link is then that server's business,
// --rtt-ms only adds to the floor and --conn-rate is only printed.
// QUORVEL_CA_FILE, for https, is passed on to aria2c and curl.
#include <chrono>
#include <cinttypes>
#include <numeric>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <httplib.h>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

#include "cache/CachingJob.h"
#include "demo/DemoContent.h"
#include "framework/HeadlessOwner.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// Only the phase matters here; the job may call from its thread.
class PhaseView : public CachingView {
public:
    void ShowRowPercent(size_t, const std::string&) override {}
    void ShowRowStatus(size_t, uint8_t) override {}
    void ShowRowFailure(size_t, const std::string&) override {}
    void ShowBar(int) override {}
    void ShowElapsed(const std::string&) override {}
    void ShowNotice(const std::string&) override {}
    void ShowDiskSpace() override {}
    void StartProgressTimer() override {}
    void StopProgressTimer() override {}
    void ShowPhase(Phase phase) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_last = phase;
    }
    bool Is(Phase phase)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_last == phase;
    }

private:
    std::mutex m_lock;
    Phase m_last = Phase::Stopped;
};

struct JobFigures {
    double seconds = 0;
    double longestHandlerMs = 0;  // longest stretch the UI thread spent in the job
};

// Plays the UI thread: delivers engine messages, ticks once a second.
JobFigures RunJob(CCachingJob::Items& items, const std::string& programDir, CachingView::Phase end)
{
    CCacheLayout cache;
    cache.SetupPaths(programDir + "/quorvel-client");
    CHeadlessOwner owner;
    PhaseView view;
    CCachingJob job(items, cache, view, [] { return static_cast<int64_t>(std::time(nullptr)); });
    job.SetOwnerWindow(owner.GetSafeHwnd());
    JobFigures figures;
    auto started = Clock::now(), lastTick = started;
    job.Start();
    while (!view.Is(end)) {
        CHeadlessOwner::Message message;
        bool got = owner.WaitMessage(message, 100);
        auto handling = Clock::now();
        if (got && message.msg == WM_DOWNLOAD_NOTIFY)
            job.OnDownloadEvent(static_cast<uint8_t>(message.wParam), message.lParam);
        if (Clock::now() - lastTick >= std::chrono::seconds(1)) {
            job.ProgressTick();
            lastTick = Clock::now();
        }
        figures.longestHandlerMs = std::max(figures.longestHandlerMs,
                                            std::chrono::duration<double, std::milli>(Clock::now() - handling).count());
    }
    figures.seconds = Seconds(started);
    return figures;
}

// Sizes as a meeting has them: most files small (40 KiB to 1 MiB), every
// 20th large (10 to 100 times that), scaled to `total`.
std::vector<int64_t> MixedSizes(int count, int64_t total)
{
    std::vector<double> weights;
    double sum = 0;
    for (int i = 0; i < count; ++i) {
        double small = 40 + (i * 7919 % 984);
        weights.push_back(i % 20 == 19 ? small * (10 + i * 31 % 91) : small);
        sum += weights.back();
    }
    std::vector<int64_t> sizes;
    for (double w : weights)
        sizes.push_back(std::max<int64_t>(1, static_cast<int64_t>(w / sum * total)));
    return sizes;
}

// `count` sizes from `minKiB` to `maxKiB` KiB, evenly spread, in a mixed order.
std::vector<int64_t> SpreadSizes(int count, int64_t minKiB, int64_t maxKiB)
{
    std::vector<int64_t> sizes;
    for (int i = 0; i < count; ++i)
        sizes.push_back((minKiB + (maxKiB - minKiB) * (i * 37 % count) / std::max(1, count - 1)) * 1024);
    return sizes;
}

CCachingJob::Items Meeting(const std::string& base, const std::vector<int64_t>& sizes)
{
    CCachingJob::Items items;
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto item = std::make_unique<ResourceItem>();
        item->size = sizes[i];
        item->type = "video";
        item->module = "m" + std::to_string(i % 10);
        item->name = "r" + std::to_string(i);
        item->url = base + "/content/" + std::to_string(item->size) + "/r" + std::to_string(i) + ".bin";
        items.push_back(std::move(item));
    }
    return items;
}

struct ToolFigures {
    double seconds = 0;
    double peakMiB = 0;
};

// Runs `command` (its output discarded) under /usr/bin/time for its peak RSS.
ToolFigures RunTool(const std::string& command, const std::string& work)
{
    std::string timeFile = work + "/time.txt";
    std::string line = "/usr/bin/time -f %M -o '" + timeFile + "' " + command + " >/dev/null 2>&1";
    sync();
    auto started = Clock::now();
    int rc = std::system(line.c_str());
    ToolFigures figures;
    figures.seconds = Seconds(started);
    if (rc != 0)
        std::fprintf(stderr, "failed (%d): %s\n", rc, command.c_str());
    std::ifstream(timeFile) >> figures.peakMiB;
    figures.peakMiB /= 1024;
    return figures;
}

// Where the tools other than the job put a resource: DIR/type/module/name.
std::string CopyPath(const std::string& dir, const ResourceItem& item)
{
    return dir + "/" + item.type + "/" + item.module + item.url.substr(item.url.rfind('/'));
}

std::string FileName(const ResourceItem& item)
{
    return item.url.substr(item.url.rfind('/') + 1);
}

ToolFigures RunAria2(const CCachingJob::Items& items, const std::string& dir, const char* options,
                     const std::string& caOption)
{
    std::string list = dir + "/aria2.list";
    {
        std::ofstream out(list);
        for (const auto& item : items)
            out << item->url << "\n  dir=" << dir << "/" << item->type << "/" << item->module << "\n";
    }
    return RunTool("aria2c -i '" + list + "' " + options + " " + caOption + " --console-log-level=error "
                   "--summary-interval=0 --allow-overwrite=true --auto-file-renaming=false", dir);
}

ToolFigures RunCurlParallel(const CCachingJob::Items& items, const std::string& dir, int parallel,
                            const std::string& caOption)
{
    std::string config = dir + "/curl.config";
    {
        std::ofstream out(config);
        for (const auto& item : items)
            out << "url = \"" << item->url << "\"\noutput = \"" << CopyPath(dir, *item) << "\"\n";
    }
    return RunTool("curl -sS -f --create-dirs --parallel --parallel-max " + std::to_string(parallel) + " " +
                   caOption + " -K '" + config + "'", dir);
}

// True when `path` holds exactly the demo file `name` of `size` bytes.
bool SameBytes(const std::string& path, const std::string& name, int64_t size)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> got(1 << 20), want(1 << 20);
    for (int64_t offset = 0; offset < size;) {
        size_t length = static_cast<size_t>(std::min<int64_t>(size - offset, static_cast<int64_t>(got.size())));
        if (!in.read(got.data(), static_cast<std::streamsize>(length)))
            return false;
        FillContent(name, offset, want.data(), length);
        if (std::memcmp(got.data(), want.data(), length) != 0)
            return false;
        offset += static_cast<int64_t>(length);
    }
    return in.peek() == std::char_traits<char>::eof();
}

// How many of `items` the tool did not copy exactly, `pathOf` telling where
// it put each.
template <typename PathOf>
int WrongCopies(const CCachingJob::Items& items, PathOf pathOf)
{
    int wrong = 0;
    for (const auto& item : items)
        wrong += SameBytes(pathOf(*item), FileName(*item), item->size) ? 0 : 1;
    return wrong;
}

// Writes the demo files under `www` as the content server has them:
// content/<size>/<name>, and all of them as one file content/<total>/all.bin.
void WriteContent(const std::string& www, const CCachingJob::Items& items, int64_t total)
{
    std::vector<char> buffer(1 << 20);
    auto write = [&](const std::string& name, int64_t size) {
        std::string dir = www + "/content/" + std::to_string(size);
        fs::create_directories(dir);
        std::ofstream out(dir + "/" + name, std::ios::binary);
        for (int64_t offset = 0; offset < size;) {
            size_t length = static_cast<size_t>(std::min<int64_t>(size - offset, static_cast<int64_t>(buffer.size())));
            FillContent(name, offset, buffer.data(), length);
            out.write(buffer.data(), static_cast<std::streamsize>(length));
            offset += static_cast<int64_t>(length);
        }
    };
    for (const auto& item : items)
        write(FileName(*item), item->size);
    write("all.bin", total);
}

void MakeCache(const CCachingJob::Items& items, const std::string& programDir)
{
    CCacheLayout cache;
    cache.SetupPaths(programDir + "/quorvel-client");
    for (const auto& item : items) {
        std::string path;
        cache.GetCachePath(*item, path);
        std::ofstream(path, std::ios::binary) << std::string(static_cast<size_t>(item->size), 'x');
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int rttMs = 0;
    int64_t rate = 0, minKiB = 0, maxKiB = 0;
    std::string base, direct, www;
    std::vector<const char*> args;  // the positional ones
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rtt-ms") == 0 && i + 1 < argc)
            rttMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--conn-rate") == 0 && i + 1 < argc) {
            char* unit = nullptr;
            rate = std::strtoll(argv[++i], &unit, 10);
            rate *= *unit == 'K' ? 1024 : *unit == 'M' ? 1048576 : 1;
        }
        else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc)
            std::sscanf(argv[++i], "%" SCNd64 "-%" SCNd64, &minKiB, &maxKiB);
        else if (std::strcmp(argv[i], "--base") == 0 && i + 1 < argc)
            base = argv[++i];
        else if (std::strcmp(argv[i], "--direct") == 0 && i + 1 < argc)
            direct = argv[++i];
        else if (std::strcmp(argv[i], "--www") == 0 && i + 1 < argc)
            www = argv[++i];
        else
            args.push_back(argv[i]);
    }
    if (args.empty() || args[0][0] == '-' || base.empty() != direct.empty() || base.empty() != www.empty()) {
        std::fprintf(stderr, "usage: %s [--rtt-ms N] [--conn-rate R] [--sizes MIN-MAX] "
                             "[--base URL --direct URL --www DIR] WORKDIR [RESOURCES] [TOTAL_MIB] [CHECK_FILES]\n",
                     argv[0]);
        return 2;
    }
    std::string work = args[0];
    int resources = args.size() > 1 ? std::max(1, std::atoi(args[1])) : 2000;
    int64_t total = (args.size() > 2 ? std::atoll(args[2]) : 2048) * 1048576;
    int checkFiles = args.size() > 3 ? std::max(1, std::atoi(args[3])) : 20000;
    const char* caFile = std::getenv("QUORVEL_CA_FILE");
    std::string aria2Ca = caFile ? std::string("--ca-certificate='") + caFile + "'" : "";
    std::string curlCa = caFile ? std::string("--cacert '") + caFile + "'" : "";

    httplib::Server server;
    std::thread serving;
    std::string source = "the demo server";
    if (base.empty()) {
        SetDemoLink(rttMs, rate);
        // A thread serves a connection as long as it is kept; httplib's
        // default of 8 threads would hold curl's 50 connections in line.
        server.new_task_queue = [] { return new httplib::ThreadPool(64); };
        MountDemoContent(server);
        int port = server.bind_to_any_port("127.0.0.1");
        serving = std::thread([&] { server.listen_after_bind(); });
        while (!server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        base = direct = "http://127.0.0.1:" + std::to_string(port);
    } else {
        source = base.rfind("https:", 0) == 0 ? "Caddy over https (HTTP/2 offered) through the relay"
                                              : "Caddy over http through the relay";
    }

    std::vector<int64_t> sizes = maxKiB > 0 ? SpreadSizes(resources, minKiB, maxKiB) : MixedSizes(resources, total);
    total = std::accumulate(sizes.begin(), sizes.end(), int64_t(0));
    auto meeting = Meeting(base, sizes);
    if (!www.empty())
        WriteContent(www, meeting, total);
    // Each run starts with nothing left to write back from the one before.
    sync();
    JobFigures job = RunJob(meeting, work + "/client", CachingView::Phase::Complete);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double jobPeakMiB = static_cast<double>(usage.ru_maxrss) / 1024;
    CCacheLayout jobCache;
    jobCache.SetupPaths(work + "/client/quorvel-client");
    int wrong = WrongCopies(meeting, [&](const ResourceItem& item) {
        std::string path;
        jobCache.GetCachePath(item, path);
        return path;
    });

    struct Tool {
        const char* name;
        std::string dir;
        ToolFigures figures;
    };
    Tool tools[3] = {{"aria2c -j1 -x4", work + "/aria2-j1", {}},
                     {"aria2c (defaults)", work + "/aria2", {}},
                     {"curl -Z", work + "/curl", {}}};
    for (Tool& tool : tools)
        fs::create_directories(tool.dir);
    tools[0].figures = RunAria2(meeting, tools[0].dir, "-j1 -x4 -s4 -k1M", aria2Ca);
    tools[1].figures = RunAria2(meeting, tools[1].dir, "", aria2Ca);
    tools[2].figures = RunCurlParallel(meeting, tools[2].dir, 50, curlCa);
    int toolWrong[3];
    for (int i = 0; i < 3; ++i)
        toolWrong[i] = WrongCopies(meeting, [&](const ResourceItem& item) { return CopyPath(tools[i].dir, item); });

    SetDemoLink(0, 0);
    auto loopStarted = Clock::now();
    std::string curl = "curl -s -f " + curlCa + " -o /dev/null " + direct + "/content/" + std::to_string(total) + "/all.bin";
    if (std::system(curl.c_str()) != 0)
        std::fprintf(stderr, "curl failed\n");
    double floor = Seconds(loopStarted) + rttMs / 1000.0;
    auto checked = Meeting(base, std::vector<int64_t>(checkFiles, 1));
    MakeCache(checked, work + "/check");
    JobFigures check = RunJob(checked, work + "/check", CachingView::Phase::CompleteAtOnce);

    double mib = static_cast<double>(total) / 1048576;
    std::printf("caching %d resources, %.1f MiB from %s, round trip %d ms, %s a connection:\n", resources, mib,
                source.c_str(), rttMs, rate > 0 ? (std::to_string(rate) + " bytes/s").c_str() : "no cap");
    std::printf("  caching job        %7.2f s  %6.0f MiB/s  peak RSS %5.1f MiB  longest UI-thread step %.1f ms\n",
                job.seconds, mib / job.seconds, jobPeakMiB, job.longestHandlerMs);
    for (const Tool& tool : tools)
        std::printf("  %-18s %7.2f s  %6.0f MiB/s  peak RSS %5.1f MiB\n", tool.name, tool.figures.seconds,
                    mib / tool.figures.seconds, tool.figures.peakMiB);
    std::printf("  floor              %7.2f s  (the bytes at the loopback rate + one round trip)\n", floor);
    std::printf("  job / aria2c -j1 -x4: %.2f   job / aria2c defaults: %.2f   job / curl -Z: %.2f   job / floor: %.2f\n",
                job.seconds / tools[0].figures.seconds, job.seconds / tools[1].figures.seconds,
                job.seconds / tools[2].figures.seconds, job.seconds / floor);
    std::printf("integrity check of %d cached files (walk + check): %.3f s\n", checkFiles, check.seconds);
    if (serving.joinable()) {
        server.stop();
        serving.join();
    }
    bool exact = wrong == 0;
    if (wrong > 0)
        std::fprintf(stderr, "caching job: %d of %d files differ from the server's\n", wrong, resources);
    for (int i = 0; i < 3; ++i) {
        if (toolWrong[i] > 0)
            std::fprintf(stderr, "%s: %d of %d files differ from the server's\n", tools[i].name, toolWrong[i], resources);
        exact = exact && toolWrong[i] == 0;
    }
    return exact ? 0 : 1;
}
