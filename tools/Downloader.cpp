#include "tools/Downloader.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "common/FileSystem.h"
#include "common/SteadyClock.h"
#include "tools/Console.h"
#include "tools/Say.h"
#include "tools/UserPath.h"

namespace {

double Elapsed(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Said after a stop or failure only when a temporary file was kept.
const char* ResumeHint(const std::string& dest)
{
    return fsys::Stat(dest + ".tmp!", false).exists ? "; run it again to resume" : "";
}

// The engine's texts name the file by the program's path: the user reads
// it as paths are written here.
std::string ForUser(std::string text, const std::string& dest)
{
    const std::string shown = ShownPath(dest);
    for (size_t at = text.find(dest); at != std::string::npos; at = text.find(dest, at + shown.size()))
        text.replace(at, dest.size(), shown);
    return text;
}

}  // namespace

Downloader::Downloader(CHeadlessOwner& owner, size_t lanes, bool terminal) : m_owner(owner), m_bTerminal(terminal)
{
    for (size_t i = 0; i < lanes; ++i) {
        m_lanes.push_back(std::make_unique<Lane>());
        m_lanes[i]->engine.ShareConnections(m_pool);
        m_lanes[i]->engine.m_hOwnerWnd = owner.GetSafeHwnd();
    }
}

bool Downloader::Run(std::vector<Entry>& entries)
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

size_t Downloader::Busy() const
{
    return std::count_if(m_lanes.begin(), m_lanes.end(), [](const auto& lane) { return lane->entry; });
}

Downloader::Lane* Downloader::Of(LPARAM engine)
{
    for (auto& lane : m_lanes) {
        if (lane->entry && reinterpret_cast<LPARAM>(&lane->engine) == engine)
            return lane.get();
    }
    return nullptr;
}

// False when no lane is free, the entry's host has its files in flight, or
// a file in flight waits for connections.
bool Downloader::Start(Entry& entry)
{
    Lane* free = nullptr;
    const std::string host = CConnectionCache::HostKey(entry.url);
    size_t sameHost = 0;
    for (auto& lane : m_lanes) {
        if (lane->entry && lane->engine.WantsConnections())
            return false;
        if (!lane->entry && !free)
            free = lane.get();
        sameHost += lane->entry && CConnectionCache::HostKey(lane->entry->url) == host;
    }
    if (!free || sameHost >= m_pool.FilesAtOnce(entry.url))
        return false;
    free->entry = &entry;
    free->supervisor = DownloadSupervisor(SteadySeconds());
    free->started = std::chrono::steady_clock::now();
    free->engine.Start(entry.url.c_str(), entry.dest.c_str(), 0, entry.md5.c_str());
    return true;
}

void Downloader::Tick()
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
        Say(stderr, "qv-download: %s stalled, restarting\n", ShownPath(lane->entry->dest).c_str());
        m_progress.Restart();
        engine.Start(lane->entry->url.c_str(), lane->entry->dest.c_str(), 0, lane->entry->md5.c_str());
    }
}

void Downloader::OnState(Lane& lane, uint8_t state)
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
    Say(stderr, "qv-download: %s, retrying\n", ForUser(failure.text, lane.entry->dest).c_str());
}

bool Downloader::Stop()
{
    for (auto& lane : m_lanes)
        lane->engine.Stop();
    EndLine();
    for (auto& lane : m_lanes) {
        if (lane->entry)
            Say(stderr, "qv-download: stopped%s\n", ResumeHint(lane->entry->dest));
    }
    return false;
}

// On a terminal the line (of every file in flight) is redrawn in place
// every second, cut to its width; into a file or pipe a line goes at
// most every kLogLineSeconds.
void Downloader::Show()
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
        Say(stdout, "\r%s", text.c_str());
    } else if (now - m_tLastLine >= kLogLineSeconds) {
        m_tLastLine = now;
        Say(stdout, "%s\n", text.c_str());
    }
    std::fflush(stdout);
    m_bLineOpen = m_bTerminal;
}

void Downloader::EndLine()
{
    if (std::exchange(m_bLineOpen, false))
        Say(stdout, "\n");
    std::fflush(stdout);
}

void Downloader::Complete(Lane& lane)
{
    EndLine();
    Entry& entry = *std::exchange(lane.entry, nullptr);
    m_progress.Restart();
    if (lane.engine.ChecksumOverruled()) {
        Say(stderr, "qv-download: %s: its MD5 is not the one given, though two copies agree; kept\n",
            ShownPath(entry.dest).c_str());
        entry.result = kChecksum;
        return;
    }
    Say(stdout, "qv-download: %s complete, %lld bytes in %.2f s\n", ShownPath(entry.dest).c_str(),
        static_cast<long long>(lane.engine.m_nFileSize.load()), Elapsed(lane.started));
    entry.result = kComplete;
}

void Downloader::GiveUp(Lane& lane, const DownloadFailure& failure)
{
    lane.engine.Stop();
    EndLine();
    Entry& entry = *std::exchange(lane.entry, nullptr);
    m_progress.Restart();
    Say(stderr, "qv-download: failed: %s%s\n", ForUser(failure.text, entry.dest).c_str(), ResumeHint(entry.dest));
    if (failure.cause == FailureCause::Tls)
        Say(stderr, "qv-download: a CA of your own is trusted when QUORVEL_CA_FILE names its file\n");
    entry.result = ExitCodeOf(failure);
}
