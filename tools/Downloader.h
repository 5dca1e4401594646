// qv-download's main loop: up to `lanes` downloads at once, as many of one
// host as the pool gives it files (six on HTTP/1.1, more on HTTP/2), each
// with the caching job's rules and the retry rule of tools/ExitCode.h,
// through one pool of connections that stays from file to file. A file
// whose segments wait for connections has them before another file starts.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/HeadlessOwner.h"
#include "net/HttpDownload.h"
#include "tools/DownloadSupervisor.h"
#include "tools/ExitCode.h"
#include "tools/ProgressLine.h"

// Posted to the owner by the first stop request.
constexpr UINT WM_STOP_REQUEST = WM_USER + 1;

// What one entry is to fetch, and how it ended.
struct Entry {
    std::string url, dest, md5;
    int result = kStopped;
};

class Downloader {
public:
    static constexpr size_t kMaxLanes = CConnectionCache::kFilesOnHttp2;

    Downloader(CHeadlessOwner& owner, size_t lanes, bool terminal);

    // Runs every entry, setting its result; false when stopped.
    bool Run(std::vector<Entry>& entries);

private:
    struct Lane {
        CHttpDownload engine;
        Entry* entry = nullptr;  // null: free
        DownloadSupervisor supervisor{0};
        std::chrono::steady_clock::time_point started;
    };

    size_t Busy() const;
    Lane* Of(LPARAM engine);
    bool Start(Entry& entry);
    void Tick();
    void OnState(Lane& lane, uint8_t state);
    bool Stop();
    void Show();
    void EndLine();
    void Complete(Lane& lane);
    void GiveUp(Lane& lane, const DownloadFailure& failure);

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
