// CInstanceLock: a lock of the program directory that the first copy of the
// client holds for its whole life, so a second copy knows of it even before
// the first has a window (between the login and the main window no caption
// exists), and a copy in another session (fast user switching, a remote
// desktop) of the same directory too: an exclusive lock of a file in the
// directory, the same on every system.
#pragma once

#include <string>

#include "common/FileSystem.h"

class CInstanceLock {
public:
    static constexpr const char* kFileName = "quorvel-client.lock";

    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // False only when another process holds the lock of `directory`; a
    // directory where no lock file can be made is no reason to stop.
    bool Acquire(const std::string& directory);

private:
    fsys::Handle m_file = fsys::kNoFile;  // open, and locked, while held
};
