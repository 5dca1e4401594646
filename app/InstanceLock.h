// CInstanceLock: a lock of the program directory that the first copy of the
// client holds for its whole life, so a second copy knows of it even before
// the first has a window (between the login and the main window no caption
// exists). POSIX: flock on a file in the directory; Windows: a named mutex.
#pragma once

#include <cstdint>
#include <string>

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
    intptr_t m_handle = -1;  // open, and locked, while held
};
