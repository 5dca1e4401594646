#include "tests/support/SmallFileSystem.h"

#include <cstdlib>
#include <sys/mount.h>
#include <unistd.h>

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

SmallFileSystem::SmallFileSystem(int64_t bytes, int reservedPercent)
{
    std::string image = m_dir.Path() + ".img";
    m_bMounted = getuid() == 0 &&
                 std::system(("truncate -s " + std::to_string(bytes) + " " + image + " && mkfs.ext4 -q -F -m " +
                              std::to_string(reservedPercent) + " " + image + " && mount -o loop " + image + " " +
                              m_dir.Path() + " 2>/dev/null")
                                 .c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_bMounted)
        umount2(m_dir.Path().c_str(), MNT_DETACH);
    unlink((m_dir.Path() + ".img").c_str());
}

bool SmallFileSystem::Resize(int64_t bytes)
{
    return mount("tmpfs", m_dir.Path().c_str(), "tmpfs", MS_REMOUNT, SizeOption(bytes).c_str()) == 0;
}
