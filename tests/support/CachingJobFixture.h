// The caching job's test fixture: a job over the harness's content server,
// with a view that records what it was shown, played by the test as the UI
// thread would.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "cache/CachingJob.h"
#include "tests/support/DownloadHarness.h"

using Phase = CachingView::Phase;

// The same server under a second host name: a host of its own to the pool.
inline std::string OnLocalhost(std::string url)
{
    return url.replace(url.find("127.0.0.1"), 9, "localhost");
}

// What the job showed, row by row, as a window would.
class RecordingView : public CachingView {
public:
    void ShowRowPercent(size_t row, const std::string& text) override { Locked([&] { percents[row] = text; }); }
    void ShowRowStatus(size_t row, uint8_t status) override
    {
        Locked([&] {
            if (history[row].empty() || history[row].back() != status)
                history[row].push_back(status);
        });
    }
    void ShowRowFailure(size_t row, const std::string& why) override { Locked([&] { failures[row] = why; }); }
    void ShowBar(int position) override { Locked([&] { bar = position; }); }
    void ShowElapsed(const std::string& text) override { Locked([&] { elapsed = text; }); }
    void ShowNotice(const std::string& text) override { Locked([&] { notice = text; }); }
    void ShowDiskSpace() override {}
    void ShowPhase(Phase phase) override { Locked([&] { phases.push_back(phase); }); }
    void StartProgressTimer() override { Locked([&] { timer = true; ++timerStarts; }); }
    void StopProgressTimer() override { Locked([&] { timer = false; }); }

    // The status the row shows now (the caching thread may be changing it).
    uint8_t Shown(size_t row)
    {
        std::lock_guard<std::mutex> guard(lock);
        return history[row].empty() ? 0 : history[row].back();
    }

    bool Reached(Phase phase)
    {
        std::lock_guard<std::mutex> guard(lock);
        return std::find(phases.begin(), phases.end(), phase) != phases.end();
    }

    std::mutex lock;
    std::map<size_t, std::string> percents;
    std::map<size_t, std::vector<uint8_t>> history;
    std::map<size_t, std::string> failures;
    std::vector<Phase> phases;
    std::string elapsed;
    std::string notice;
    int bar = -1;
    bool timer = false;
    int timerStarts = 0;

private:
    template <typename F>
    void Locked(F f)
    {
        std::lock_guard<std::mutex> guard(lock);
        f();
    }
};

class CachingJobTest : public ::testing::Test {
protected:
    // The job's engines are set up like the harness's (its owner, its
    // short waits, its disk).
    CachingJobTest()
        : m_job(m_items, m_cache, m_view, [this] { return m_now.load(); },
                [this](CHttpDownload& engine) { engine.SetUpLike(h.engine); })
    {
        m_cache.SetupPaths(h.dir / "quorvel-client");
    }

    void Add(const std::string& name, int64_t size, const std::string& type, const std::string& module,
             int64_t listedSize, const std::string& query = "")
    {
        auto item = std::make_unique<ResourceItem>();
        item->name = name;
        item->type = type;
        item->module = module;
        item->url = h.Url(size, name, query);
        item->size = listedSize;
        m_items.push_back(std::move(item));
    }

    std::string PathOf(size_t row)
    {
        std::string path;
        EXPECT_TRUE(m_cache.GetCachePath(*m_items[row], path));
        return path;
    }

    void Place(size_t row, int64_t size)
    {
        std::ofstream(PathOf(row), std::ios::binary) << DownloadHarness::Expected(m_items[row]->name, size);
    }

    // Plays the UI thread once: delivers an engine message, or ticks. The
    // job's clock runs on while a failed row waits for its next attempt.
    void Pump()
    {
        if (m_job.IsWaitingToRetry())
            m_now += 1;
        CHeadlessOwner::Message message;
        if (h.owner.WaitMessage(message, 50) && message.msg == WM_DOWNLOAD_NOTIFY)
            m_job.OnDownloadEvent(static_cast<uint8_t>(message.wParam), message.lParam);
        else
            m_job.ProgressTick();
    }

    // Plays the UI thread until the job reaches `phase`.
    bool RunUntil(Phase phase, int seconds = 60)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!m_view.Reached(phase) && std::chrono::steady_clock::now() < deadline)
            Pump();
        return m_view.Reached(phase);
    }

    // Plays the UI thread until the job completes (60 s at most): the most
    // rows it showed caching at once.
    size_t MostCachingAtOnce()
    {
        size_t most = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!m_view.Reached(Phase::Complete) && std::chrono::steady_clock::now() < deadline) {
            Pump();
            std::lock_guard<std::mutex> guard(m_view.lock);
            most = std::max<size_t>(most, std::count_if(m_view.history.begin(), m_view.history.end(), [](const auto& row) {
                                        return row.second.back() == STATUS_CACHING;
                                    }));
        }
        return most;
    }

    // Every row went from waiting to caching to cached, once, with its
    // file's bytes, and the bar says 100.
    void ExpectEachCachedOnce(int64_t size)
    {
        for (size_t row = 0; row < m_items.size(); ++row) {
            EXPECT_EQ(m_view.history[row], (std::vector<uint8_t>{STATUS_NOT_STARTED, STATUS_CACHING, STATUS_CACHED}));
            EXPECT_TRUE(ReadWholeFile(PathOf(row)) == DownloadHarness::Expected(m_items[row]->name, size)) << row;
        }
        EXPECT_EQ(m_view.bar, 100);
    }

    size_t RangeRequests() const
    {
        size_t n = 0;
        for (const SeenRequest& r : h.server.Requests())
            n += r.range.empty() ? 0 : 1;
        return n;
    }

    DownloadHarness h;
    CCachingJob::Items m_items;
    CCacheLayout m_cache;
    RecordingView m_view;
    std::atomic<int64_t> m_now{1000};
    CCachingJob m_job;
};
