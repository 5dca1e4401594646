// caching_bench [--rtt-ms N] [--conn-rate BYTES] [--sizes MIN-MAX] WORKDIR [RESOURCES] [TOTAL_MIB] [CHECK_FILES]
//
// Caches a meeting of RESOURCES files totalling TOTAL_MIB (mixed sizes: most
// under 1 MiB, every 20th a large one; with --sizes, KiB spread evenly from
// MIN to MAX) from the demo content server (in this process, on 127.0.0.1)
// with the caching job's logic and the real engine, then the same URLs with
// `aria2c -i -j1 -x4 -s4 -k1M` and with aria2c's defaults (five files at
// once) into other folders of WORKDIR; and times the integrity check (walk
// and check) of a cache of CHECK_FILES files. --rtt-ms and --conn-rate (0:
// no cap) make the content server a stand-in for a host across a wide-area
// link, for all of them. Prints the figures, the ratios and the floor: the
// total bytes at the loopback rate (curl, without the link's delays) plus
// one round trip.
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

double RunAria2(const CCachingJob::Items& items, const std::string& dir, const char* options)
{
    std::string list = dir + "/aria2.list";
    {
        std::ofstream out(list);
        for (const auto& item : items)
            out << item->url << "\n  dir=" << dir << "/" << item->type << "/" << item->module << "\n";
    }
    std::string command = "aria2c -i '" + list + "' " + options + " --console-log-level=error "
                          "--summary-interval=0 --allow-overwrite=true --auto-file-renaming=false >/dev/null 2>&1";
    auto started = Clock::now();
    int rc = std::system(command.c_str());
    double seconds = Seconds(started);
    if (rc != 0)
        std::fprintf(stderr, "aria2c failed (%d)\n", rc);
    return seconds;
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
    std::vector<const char*> args;  // the positional ones
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rtt-ms") == 0 && i + 1 < argc)
            rttMs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--conn-rate") == 0 && i + 1 < argc)
            rate = std::atoll(argv[++i]);
        else if (std::strcmp(argv[i], "--sizes") == 0 && i + 1 < argc)
            std::sscanf(argv[++i], "%" SCNd64 "-%" SCNd64, &minKiB, &maxKiB);
        else
            args.push_back(argv[i]);
    }
    if (args.empty() || args[0][0] == '-') {
        std::fprintf(stderr, "usage: %s [--rtt-ms N] [--conn-rate BYTES] [--sizes MIN-MAX] WORKDIR [RESOURCES] "
                             "[TOTAL_MIB] [CHECK_FILES]\n",
                     argv[0]);
        return 2;
    }
    SetDemoLink(rttMs, rate);
    std::string work = args[0];
    int resources = args.size() > 1 ? std::max(1, std::atoi(args[1])) : 2000;
    int64_t total = (args.size() > 2 ? std::atoll(args[2]) : 2048) * 1048576;
    int checkFiles = args.size() > 3 ? std::max(1, std::atoi(args[3])) : 20000;

    httplib::Server server;
    MountDemoContent(server);
    int port = server.bind_to_any_port("127.0.0.1");
    std::thread serving([&] { server.listen_after_bind(); });
    while (!server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::string base = "http://127.0.0.1:" + std::to_string(port);

    // Each run starts with nothing left to write back from the one before.
    std::vector<int64_t> sizes = maxKiB > 0 ? SpreadSizes(resources, minKiB, maxKiB) : MixedSizes(resources, total);
    total = std::accumulate(sizes.begin(), sizes.end(), int64_t(0));
    auto meeting = Meeting(base, sizes);
    sync();
    JobFigures job = RunJob(meeting, work + "/client", CachingView::Phase::Complete);
    double aria2[2];
    const char* aria2Options[2] = {"-j1 -x4 -s4 -k1M", ""};
    for (int i = 0; i < 2; ++i) {
        fs::create_directories(work + "/aria2-" + std::to_string(i));
        sync();
        aria2[i] = RunAria2(meeting, work + "/aria2-" + std::to_string(i), aria2Options[i]);
    }

    SetDemoLink(0, 0);
    auto loopStarted = Clock::now();
    std::string curl = "curl -s -o /dev/null " + base + "/content/" + std::to_string(total) + "/all.bin";
    if (std::system(curl.c_str()) != 0)
        std::fprintf(stderr, "curl failed\n");
    double floor = Seconds(loopStarted) + rttMs / 1000.0;
    auto checked = Meeting(base, std::vector<int64_t>(checkFiles, 1));
    MakeCache(checked, work + "/check");
    JobFigures check = RunJob(checked, work + "/check", CachingView::Phase::CompleteAtOnce);

    double mib = static_cast<double>(total) / 1048576;
    std::printf("caching %d resources, %.1f MiB, round trip %d ms, %s a connection:\n", resources, mib, rttMs,
                rate > 0 ? (std::to_string(rate) + " bytes/s").c_str() : "no cap");
    std::printf("  caching job        %7.2f s  %6.0f MiB/s  longest UI-thread step %.1f ms\n", job.seconds,
                mib / job.seconds, job.longestHandlerMs);
    std::printf("  aria2c -j1 -x4     %7.2f s  %6.0f MiB/s\n", aria2[0], mib / aria2[0]);
    std::printf("  aria2c (defaults)  %7.2f s  %6.0f MiB/s\n", aria2[1], mib / aria2[1]);
    std::printf("  floor              %7.2f s  (the bytes at the loopback rate + one round trip)\n", floor);
    std::printf("  job / aria2c -j1 -x4: %.2f   job / aria2c defaults: %.2f   job / floor: %.2f\n",
                job.seconds / aria2[0], job.seconds / aria2[1], job.seconds / floor);
    std::printf("integrity check of %d cached files (walk + check): %.3f s\n", checkFiles, check.seconds);
    server.stop();
    serving.join();
    return 0;
}
