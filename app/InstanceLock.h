// CInstanceLock: an exclusive lock on a file in the program directory that
// the first copy of the client holds for its whole life, so a second copy
// knows of it even before the first has a window (between the login and
// the main window no caption exists).
#pragma once

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
    int m_fd = -1;  // open, and locked, while held
};
