#include "tests/support/SmallFileSystem.h"

#include <sys/mount.h>

namespace {

std::string SizeOption(int64_t bytes)
{
    return "size=" + std::to_string(bytes);
}

}  // namespace

SmallFileSystem::SmallFileSystem(int64_t bytes)
    : m_bMounted(mount("tmpfs", m_dir.Path().c_str(), "tmpfs", 0, SizeOption(bytes).c_str()) == 0)
{
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_bMounted)
        umount2(m_dir.Path().c_str(), MNT_DETACH);
}

bool SmallFileSystem::Resize(int64_t bytes)
{
    return mount("tmpfs", m_dir.Path().c_str(), "tmpfs", MS_REMOUNT, SizeOption(bytes).c_str()) == 0;
}
