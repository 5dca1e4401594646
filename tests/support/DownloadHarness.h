// An engine, its headless owner and a content server on 127.0.0.1, for the
// engine's tests: URLs of demo files, their expected bytes, and the owner's
// side of the conversation (waiting for posted states, restarting after a
// failure as the caching job does).
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/HeadlessOwner.h"
#include "net/HttpDownload.h"
#include "tests/support/Http2Front.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/TempDir.h"

class DownloadHarness {
public:
    DownloadHarness();
    ~DownloadHarness();

    // A disk whose final sync takes as long as the test likes: from
    // HoldFinalSync on, the engine's final sync waits for ReleaseFinalSync.
    void HoldFinalSync();
    bool FinalSyncEntered();  // waits for it, at most 20 s
    void ReleaseFinalSync();

    // From here on Url() names the files through nginx as an HTTP/2 front
    // over TLS (POSIX only), which ends each connection with a GOAWAY after
    // `streamsPerConnection` streams. False (the reason in front->Failure())
    // when it cannot start.
    bool ThroughHttp2Front(int streamsPerConnection = 1000);

    // URL of a demo file of `size` bytes with the given fault query.
    std::string Url(int64_t size, const std::string& name, const std::string& query = "") const;
    static std::string Expected(const std::string& name, int64_t size);
    // The rule for more connections the harness gives its engine.
    static bool SegmentsAtOnce(int64_t remaining, double bytesPerSecond, double requestSeconds);

    // The next posted engine state, or 0 after `milliseconds`.
    uint8_t NextState(unsigned long milliseconds = 20000);
    // Starts and restarts after each failure until the file is in place or
    // `restarts` ran out; true when DOWNLOAD_FINISHED came.
    bool DownloadToEnd(const std::string& url, const std::string& dest, int restarts = 50);
    // The same for several engines at once (all posting to `owner`).
    struct Fetch {
        CHttpDownload* engine;
        std::string url, dest;
        int restarts = 50;
        bool done = false;
    };
    bool DownloadAllToEnd(std::vector<Fetch>& fetches);

    std::atomic<int64_t> sent{0};  // body bytes the server sent to range requests; outlives it
    LoopbackServer server;
    std::unique_ptr<Http2Front> front;  // when the requests go through one
    TempDir dir;

private:
    std::mutex m_syncLock;
    std::condition_variable m_syncChanged;
    bool m_bSyncEntered = false;
    bool m_bSyncHeld = false;

public:
    CHeadlessOwner owner;
    CHttpDownload engine;
};
