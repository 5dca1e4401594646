// What the owner of a download engine sets (EngineSettings) and what the
// engine shows it while it runs (EngineSignals), shared with the parts of
// the engine that act on them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "net/FileFinisher.h"

struct EngineSettings {
    // A transfer that receives nothing for this long fails its attempt.
    static constexpr long kTransferStallSeconds = 60;
    // A worker without transport activity for this long is restarted.
    static constexpr int64_t kWorkerIdleSeconds = 600;
    // Waits between rounds after a posted failure: 1 s, doubling, at most 30 s.
    static constexpr unsigned long kFirstRetryWaitMs = 1000;

    // Free bytes for a path; replaceable so tests can play a full disk.
    std::function<int64_t(const std::string&)> m_freeSpace;
    // kTransferStallSeconds; tests shorten it.
    long m_nStallSeconds = kTransferStallSeconds;
    // kWorkerIdleSeconds; tests shorten it.
    int64_t m_nWorkerIdleSeconds = kWorkerIdleSeconds;
    // kFirstRetryWaitMs, the first wait after a failed round or a broken
    // segment; tests shorten it.
    unsigned long m_nFirstRetryWaitMs = kFirstRetryWaitMs;
    // The final sync of a file (fsync); replaceable so tests can play a slow disk.
    CFileFinisher::Sync m_finalSync;
    // The sync of data before the side file counts it (fdatasync);
    // replaceable so tests can play a failing disk.
    CFileFinisher::Sync m_dataSync;
    // Whether more connections pay (MoreConnectionsPay); replaceable so
    // tests can have the segments at once, or never.
    std::function<bool(int64_t remaining, double bytesPerSecond, double requestSeconds)> m_morePay;
};

struct EngineSignals {
    // The file may take connections beyond its first.
    std::atomic<bool> mayWiden{true};
    // Segments wait for a connection that would pay.
    std::atomic<bool> wantsConnections{false};
    // Nothing of the file moves for want of a connection (the size query,
    // or every transfer the file has waits for one): no stall.
    std::atomic<bool> awaitingConnection{false};
    // Received by the transfers, not yet written.
    std::atomic<int64_t> buffered{0};
    // Every byte is written: the file is being synced and placed.
    std::atomic<bool> finishing{false};
};
