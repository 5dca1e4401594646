// CPartFile: the file being built beside its destination (destination +
// ".tmp!", allocated at full size before the first byte) and its side file
// (destination + ".info", the segment table with the bytes done). Blocks
// are written at their offsets; the data is synced before the side file
// that counts it is replaced, at most once a second or every kSyncBytes,
// so after a power cut the side file never calls zeros done.
//
// One lock guards the descriptor, the table and the sync state: the
// workers write from their threads, the round's scheduler marks segments.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "common/FileSystem.h"
#include "net/DownloadFailure.h"
#include "net/FileFinisher.h"
#include "net/SegmentTable.h"

class CPartFile {
public:
    static constexpr int64_t kSyncBytes = 4194304;
    static constexpr int64_t kSyncSeconds = 1;
    // Room that must stay free beyond the file's size.
    static constexpr int64_t kFreeSpaceReserve = 104857600;

    using FreeSpace = std::function<int64_t(const std::string&)>;

    // `written` is the owner's count of the bytes the table calls done.
    explicit CPartFile(std::atomic<int64_t>& written) : m_written(written) {}
    ~CPartFile() { Close(); }
    CPartFile(const CPartFile&) = delete;
    CPartFile& operator=(const CPartFile&) = delete;

    void SetDestination(const std::string& dest);
    const std::string& TempPath() const { return m_strTemp; }

    // Opens (or makes and allocates) the temporary file for a file of
    // `size` bytes whose side file identity is `identity`, and loads the
    // side file if it describes this file (never beside a temporary file
    // made just now), else plans anew (`oneStream`: one segment). 0, or -1
    // (cannot write) / -2 (no room) with `why`.
    int Prepare(int64_t size, uint64_t identity, bool oneStream, const FreeSpace& freeSpace,
                const CFileFinisher::Sync& dataSync, DownloadFailure& why);
    // From a worker: `length` bytes at segment `index`'s start + done;
    // advances done. False when they were not written (or a sync failed).
    bool Write(size_t index, int64_t& done, const char* bytes, size_t length);
    // An attempt ended: what it wrote is synced and counted.
    void SyncWritten();
    // The side file goes (and the temporary file with `temporaryToo`): the
    // next round plans anew.
    void Discard(bool temporaryToo);
    // The file starts over as one segment from byte 0 (a server that
    // answers ranges with the whole file).
    void ReplanWhole();
    // Hands the open file and its table to the finisher; kNoFile in fd
    // when none is open.
    CFileFinisher::Files HandOver();
    void Close();

    // The data sync failed this round: why, else empty.
    std::string SyncFailure();
    // Runs `use` on the table under the lock.
    template <class F>
    auto WithTable(F&& use)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return use(m_table);
    }

private:
    bool Promise(int64_t need, const FreeSpace& freeSpace, DownloadFailure& why);
    void Unpromise();
    bool SyncProgress();
    bool SaveSideFile();
    void Count();

    std::atomic<int64_t>& m_written;
    std::string m_strDest, m_strTemp, m_strInfo;
    std::mutex m_lock;
    fsys::Handle m_fd = fsys::kNoFile;
    CSegmentTable m_table;
    int64_t m_nSize = 0;
    uint64_t m_nIdentity = 0;
    CFileFinisher::Sync m_dataSync;
    int64_t m_nUnsynced = 0;   // written since the side file was last replaced
    int64_t m_tLastSync = 0;   // steady seconds of that
    bool m_bSyncFailed = false;
    std::string m_strSyncFailure;
    std::mutex m_infoLock;     // writing the side file (the finisher's cancel writes one too)
    int64_t m_nPromised = 0;   // this file's share of the process's account (under its lock)
};
