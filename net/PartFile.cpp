#include "net/PartFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/SteadyClock.h"
#include "net/DiskSpace.h"
#include "net/SideFile.h"

namespace {

std::string Mebibytes(int64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    return text;
}

DownloadFailure CannotWrite(const std::string& path, int error)
{
    return {FailureCause::FileAccess, 0, "cannot write " + path + ": " + std::strerror(error)};
}

// The room the process's open part files still need and the disk has not
// reserved for them (sparse files take their clusters as they are
// written): each file's check of the free space counts the others'.
std::mutex g_promiseLock;
int64_t g_nPromised = 0;

}  // namespace

void CPartFile::SetDestination(const std::string& dest)
{
    Close();
    m_strDest = dest;
    m_strTemp = dest + ".tmp!";
    m_strInfo = dest + ".info";
}

int CPartFile::Prepare(int64_t size, uint64_t identity, bool oneStream, const FreeSpace& freeSpace,
                       const CFileFinisher::Sync& dataSync, DownloadFailure& why)
{
    // A destination directory that is gone or closed is named as such, not
    // as a disk without room.
    if (!fsys::CanWriteIn(DirectoryOf(m_strTemp))) {
        why = CannotWrite(m_strTemp, errno);
        return -1;
    }
    fsys::Info st = fsys::Stat(m_strTemp, false);
    bool existed = st.exists;
    // What the temporary file of a resumed download already holds is room
    // the file has, not room it still needs.
    int64_t held = st.regular ? std::min<int64_t>(st.allocated, size) : 0;
    if (!Promise(size - held, freeSpace, why))
        return -2;
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd != fsys::kNoFile)
        fsys::Close(m_fd);  // left open by an earlier round of this start
    // A side file without its temporary file (killed between the rename and
    // its removal, or the operator deleted the .tmp!) must never come to
    // describe the new file, even after a crash right below.
    if (!existed)
        fsys::Remove(m_strInfo);
    m_fd = fsys::Open(m_strTemp, fsys::Mode::ReadWrite);
    if (m_fd == fsys::kNoFile) {
        why = CannotWrite(m_strTemp, errno);
        Unpromise();
        return -1;
    }
    // Real allocation (POSIX), so a full disk shows now rather than
    // mid-download; on Windows a sparse file, which stays counted in the
    // account while it is open. A larger file is kept as it is; one made
    // just now that cannot be allocated goes again, rather than stay as an
    // empty husk.
    bool reserved = false;
    int allocated = (!existed || st.size < size) && size > 0 ? fsys::Allocate(m_fd, size, reserved) : 0;
    if (reserved || allocated != 0)
        Unpromise();
    if (allocated != 0) {
        why = {allocated == ENOSPC ? FailureCause::DiskSpace : FailureCause::FileAccess, 0,
               "cannot allocate " + m_strTemp + ": " + std::strerror(allocated)};
        fsys::Close(m_fd);
        m_fd = fsys::kNoFile;
        if (!existed)
            fsys::Remove(m_strTemp);
        return -1;
    }
    m_nSize = size;
    m_nIdentity = identity;
    m_dataSync = dataSync;
    // A side file beside a temporary file made just now claims bytes that
    // are not on disk: it is never loaded then. One stream takes only a
    // plan of one segment.
    std::vector<SegmentInfo> loaded;
    if (existed && LoadSideFile(m_strInfo, size, identity, loaded) && (!oneStream || loaded.size() == 1)) {
        m_table.Plan(size, oneStream);
        m_table.Segments() = std::move(loaded);
    } else {
        m_table.Plan(size, oneStream);
        SaveSideFile();
    }
    Count();
    m_nUnsynced = 0;
    m_tLastSync = SteadySeconds();
    m_bSyncFailed = false;
    m_strSyncFailure.clear();
    return 0;
}

// Counts the `need` bytes in the account when the free space holds them
// beside the other files' share and the reserve, else says why not; a new
// round of this file replaces its own share. Checked and counted under one
// lock, so files prepared at once see each other.
bool CPartFile::Promise(int64_t need, const FreeSpace& freeSpace, DownloadFailure& why)
{
    std::lock_guard<std::mutex> guard(g_promiseLock);
    g_nPromised -= m_nPromised;
    m_nPromised = 0;
    int64_t freeBytes = freeSpace ? freeSpace(m_strTemp) : GetFreeDiskBytes(m_strTemp);
    if (need + g_nPromised + kFreeSpaceReserve > freeBytes) {
        std::string others = g_nPromised > 0 ? ", " + Mebibytes(g_nPromised) + " for other open downloads" : "";
        why = {FailureCause::DiskSpace, 0,
               "not enough space: need " + Mebibytes(need + kFreeSpaceReserve) + " (the file and 100 MiB)" + others +
                   ", have " + Mebibytes(freeBytes)};
        return false;
    }
    m_nPromised = need;
    g_nPromised += need;
    return true;
}

void CPartFile::Unpromise()
{
    std::lock_guard<std::mutex> guard(g_promiseLock);
    g_nPromised -= m_nPromised;
    m_nPromised = 0;
}

bool CPartFile::Write(size_t index, int64_t& done, const char* bytes, size_t length)
{
    std::lock_guard<std::mutex> guard(m_lock);
    SegmentInfo& s = m_table[index];
    if (m_fd == fsys::kNoFile || m_bSyncFailed || !fsys::WriteAt(m_fd, bytes, length, s.start + done))
        return false;
    done += static_cast<int64_t>(length);
    s.done = done;
    m_written += static_cast<int64_t>(length);
    m_nUnsynced += static_cast<int64_t>(length);
    if (m_nUnsynced < kSyncBytes && SteadySeconds() - m_tLastSync < kSyncSeconds)
        return true;
    return SyncProgress();
}

void CPartFile::SyncWritten()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_nUnsynced > 0)
        SyncProgress();
}

// With the lock held. A side file that cannot be replaced (a disk filled up
// meanwhile) fails the attempt: the previous one stays and still tells the
// truth. After a failed sync the written bytes may never reach the disk:
// the side file keeps what the last good sync covered, nothing more is
// written or counted this round, and the next round resumes from it.
bool CPartFile::SyncProgress()
{
    if (m_fd == fsys::kNoFile || m_bSyncFailed)
        return false;
    if ((m_dataSync ? m_dataSync(m_fd) : fsys::SyncData(m_fd)) != 0) {
        m_strSyncFailure = "cannot sync " + m_strTemp + ": " + std::strerror(errno);
        m_bSyncFailed = true;
        return false;
    }
    if (!SaveSideFile())
        return false;
    m_nUnsynced = 0;
    m_tLastSync = SteadySeconds();
    return true;
}

bool CPartFile::SaveSideFile()
{
    std::lock_guard<std::mutex> guard(m_infoLock);
    return ::SaveSideFile(m_strInfo, m_table.Segments(), m_nIdentity);
}

// With the lock held: the owner's count follows the table.
void CPartFile::Count()
{
    m_written = m_table.Done();
}

void CPartFile::Discard(bool temporaryToo)
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (temporaryToo)
        fsys::Remove(m_strTemp);
    fsys::Remove(m_strInfo);
    m_written = 0;
}

void CPartFile::ReplanWhole()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_table.Plan(m_nSize, true);
    Count();
    SaveSideFile();
}

CFileFinisher::Files CPartFile::HandOver()
{
    std::lock_guard<std::mutex> guard(m_lock);
    CFileFinisher::Files files;
    files.fd = m_fd;
    m_fd = fsys::kNoFile;
    files.size = m_nSize;
    files.tempPath = m_strTemp;
    files.destPath = m_strDest;
    files.infoPath = m_strInfo;
    files.segments = m_table.Segments();
    files.identity = m_nIdentity;
    Unpromise();
    return files;
}

void CPartFile::Close()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_fd != fsys::kNoFile) {
        fsys::Close(m_fd);
        m_fd = fsys::kNoFile;
    }
    Unpromise();
}

std::string CPartFile::SyncFailure()
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bSyncFailed ? m_strSyncFailure : std::string();
}
