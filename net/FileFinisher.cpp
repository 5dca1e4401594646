#include "net/FileFinisher.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include "common/FileSystem.h"
#include "common/Md5.h"
#include "net/SideFile.h"

namespace {

std::string ErrnoText(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

}  // namespace

CFileFinisher::CFileFinisher(Files files, Sync sync, OnPlaced placed)
    : m_files(std::move(files)), m_sync(std::move(sync)), m_placed(std::move(placed))
{
    m_thread = std::thread(&CFileFinisher::Run, this);
}

CFileFinisher::~CFileFinisher()
{
    m_thread.join();
}

void CFileFinisher::Cancel()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_bCancelled = true;
}

void CFileFinisher::Run()
{
    bool ready = SyncToDisk() && Verify();
    fsys::Close(m_files.fd);
    m_bPlaced = ready && Place();
    m_ended.SetEvent();
}

// A temporary file kept from a larger version of the remote file is cut to
// this version's size; then every byte goes to the disk. A failed sync
// leaves the file unmoved: its bytes may not be on the disk.
bool CFileFinisher::SyncToDisk()
{
    if (!fsys::SetSize(m_files.fd, m_files.size)) {
        m_strFailure = ErrnoText("cannot cut " + m_files.tempPath + " to size", errno);
        return false;
    }
    if ((m_sync ? m_sync(m_files.fd) : fsys::Sync(m_files.fd)) != 0) {
        m_strFailure = ErrnoText("cannot sync " + m_files.tempPath, errno);
        return false;
    }
    return true;
}

bool CFileFinisher::Verify()
{
    if (m_files.md5.empty())
        return true;
    CMd5 md5;
    std::string buffer(1 << 20, '\0');
    for (int64_t at = 0;;) {
        int64_t n = fsys::ReadAt(m_files.fd, buffer.data(), buffer.size(), at);
        if (n < 0) {
            m_strFailure = ErrnoText("cannot read " + m_files.tempPath, errno);
            return false;
        }
        if (n == 0)
            break;
        md5.Update(buffer.data(), static_cast<size_t>(n));
        at += n;
    }
    m_strDigest = md5.HexDigest();
    if (strcasecmp(m_strDigest.c_str(), m_files.md5.c_str()) == 0 || m_strDigest == m_files.alsoAccepted)
        return true;
    m_strFailure = "checksum mismatch: expected md5 " + m_files.md5 + ", got " + m_strDigest;
    m_bMismatched = true;
    return false;
}

// Every byte is on the disk now: either the file moves into place, or,
// cancelled, the side file says so and the next start only renames it.
bool CFileFinisher::Place()
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (m_bCancelled) {
        SaveSideFile(m_files.infoPath, m_files.segments, m_files.identity);
        return false;
    }
    const std::string& temp = m_files.tempPath;
    const std::string& dest = m_files.destPath;
    if (!fsys::Replace(temp, dest) && !fsys::Replace(temp, dest)) {
        m_strFailure = ErrnoText("cannot move " + m_files.tempPath + " into place", errno);
        return false;
    }
    fsys::Remove(m_files.infoPath);
    m_placed(m_strDigest);
    return true;
}
