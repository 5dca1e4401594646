#include "app/InstanceLock.h"

#include <cerrno>

CInstanceLock::~CInstanceLock()
{
    if (m_file != fsys::kNoFile)
        fsys::Close(m_file);
}

// The file is not inherited, so the web server the client starts never
// holds the lock after the client ends.
bool CInstanceLock::Acquire(const std::string& directory)
{
    fsys::Handle file = fsys::Open(directory + "/" + kFileName, fsys::Mode::ReadWrite);
    if (file == fsys::kNoFile)
        return true;
    if (!fsys::LockExclusive(file)) {
        bool held = errno == EWOULDBLOCK;
        fsys::Close(file);
        return !held;
    }
    m_file = file;
    return true;
}
