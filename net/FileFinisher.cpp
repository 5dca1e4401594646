#include "net/FileFinisher.h"

#include <cstdio>
#include <unistd.h>

#include "net/SideFile.h"

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
    // A temporary file kept from a larger version of the remote file is cut
    // to this version's size.
    bool synced = ftruncate(m_files.fd, m_files.size) == 0 && (m_sync ? m_sync(m_files.fd) : fsync(m_files.fd)) == 0;
    close(m_files.fd);
    m_bPlaced = synced && Place();
    m_ended.SetEvent();
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
    const char* temp = m_files.tempPath.c_str();
    const char* dest = m_files.destPath.c_str();
    if (std::rename(temp, dest) != 0 && std::rename(temp, dest) != 0)
        return false;
    unlink(m_files.infoPath.c_str());
    m_placed();
    return true;
}
