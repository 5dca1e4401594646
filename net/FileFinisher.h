// CFileFinisher: moves a fully written temporary file into place on a
// thread of its own. The final sync of a large file to a slow disk (a
// USB stick with much in the page cache) can take minutes; meanwhile the
// engine says it is finishing, and a stop returns without waiting for the
// disk.
//
// With an MD5 to meet, the synced file is read back and checked before it
// is moved: a file whose bytes are wrong never takes the destination name.
//
// A cancel that comes before the rename leaves the synced temporary file
// and a side file that claims every byte, so the next start only renames
// it. The rename and the owner's notice happen under the same lock as the
// cancel, so a stop finds the file either in place and announced, or not
// moved at all.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/FileSystem.h"
#include "framework/Event.h"
#include "net/SegmentInfo.h"

class CFileFinisher {
public:
    struct Files {
        fsys::Handle fd = fsys::kNoFile;  // the temporary file, open; the finisher closes it
        int64_t size = 0;
        std::string tempPath, destPath, infoPath;
        std::vector<SegmentInfo> segments;  // every one finished
        uint64_t identity = 0;
        // When not empty: the file's MD5 must be this (either case), or
        // `alsoAccepted` (an earlier copy's digest), to be moved into place.
        std::string md5, alsoAccepted;
    };
    using Sync = std::function<int(fsys::Handle file)>;
    // Called under the lock once the file is in place, with its digest
    // when one was checked.
    using OnPlaced = std::function<void(const std::string& digest)>;

    CFileFinisher(Files files, Sync sync, OnPlaced placed);
    // Waits for the thread: the disk is done with the file after this.
    ~CFileFinisher();
    CFileFinisher(const CFileFinisher&) = delete;
    CFileFinisher& operator=(const CFileFinisher&) = delete;

    // The file stays where it is; returns at once.
    void Cancel();
    // Set when the thread's work is done.
    CEvent& Ended() { return m_ended; }
    // After Ended: the file is at its destination.
    bool Placed() const { return m_bPlaced; }
    // After Ended, when not placed and not cancelled: why ("cannot sync
    // ...: Input/output error"), and the file's digest when that was what
    // differed (the temporary file then stays, synced).
    const std::string& Failure() const { return m_strFailure; }
    const std::string& Digest() const { return m_strDigest; }
    // After Ended: the digest was neither the md5 given nor the one also accepted.
    bool Mismatched() const { return m_bMismatched; }

private:
    void Run();
    bool SyncToDisk();
    bool Verify();
    bool Place();

    Files m_files;
    Sync m_sync;
    OnPlaced m_placed;
    std::mutex m_lock;  // the cancel against the rename
    bool m_bCancelled = false;
    std::atomic<bool> m_bPlaced{false};  // set before Ended
    std::string m_strFailure;  // finisher thread until Ended
    std::string m_strDigest;   // finisher thread until Ended
    bool m_bMismatched = false;  // finisher thread until Ended
    CEvent m_ended;
    std::thread m_thread;
};
