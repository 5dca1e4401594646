#include "app/InstanceLock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

CInstanceLock::~CInstanceLock()
{
    if (m_handle >= 0)
        close(static_cast<int>(m_handle));
}

// Close-on-exec, so the web server the client starts never inherits it.
bool CInstanceLock::Acquire(const std::string& directory)
{
    int fd = open((directory + "/" + kFileName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return true;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        bool held = errno == EWOULDBLOCK;
        close(fd);
        return !held;
    }
    m_handle = fd;
    return true;
}
