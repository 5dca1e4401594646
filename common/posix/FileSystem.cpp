#include "common/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fsys {

Handle Open(const std::string& path, Mode mode)
{
    int flags = O_CLOEXEC | O_NOFOLLOW;
    flags |= mode == Mode::Read ? O_RDONLY : mode == Mode::ReadWrite ? O_RDWR | O_CREAT : O_WRONLY | O_CREAT | O_TRUNC;
    int fd = open(path.c_str(), flags, 0644);
    return fd < 0 ? kNoFile : fd;
}

bool Close(Handle file)
{
    return close(static_cast<int>(file)) == 0;
}

bool WriteAt(Handle file, const char* bytes, size_t length, int64_t offset)
{
    while (length > 0) {
        ssize_t n = pwrite(static_cast<int>(file), bytes, length, offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes += n;
        length -= n;
        offset += n;
    }
    return true;
}

int64_t ReadAt(Handle file, char* bytes, size_t length, int64_t offset)
{
    for (;;) {
        ssize_t n = pread(static_cast<int>(file), bytes, length, offset);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

int Allocate(Handle file, int64_t size, bool& reserved)
{
    int error = posix_fallocate(static_cast<int>(file), 0, size);
    reserved = error == 0;
    return error;
}

bool LockExclusive(Handle file)
{
    return flock(static_cast<int>(file), LOCK_EX | LOCK_NB) == 0;
}

bool SetSize(Handle file, int64_t size)
{
    return ftruncate(static_cast<int>(file), size) == 0;
}

int SyncData(Handle file)
{
    return fdatasync(static_cast<int>(file));
}

int Sync(Handle file)
{
    return fsync(static_cast<int>(file));
}

bool Replace(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool Remove(const std::string& path)
{
    return unlink(path.c_str()) == 0;
}

bool MakeDir(const std::string& path)
{
    return mkdir(path.c_str(), 0755) == 0;
}

Info Stat(const std::string& path, bool followLink)
{
    struct stat st;
    Info info;
    if ((followLink ? stat(path.c_str(), &st) : lstat(path.c_str(), &st)) != 0)
        return info;
    info.exists = true;
    info.directory = S_ISDIR(st.st_mode);
    info.regular = S_ISREG(st.st_mode);
    info.size = st.st_size;
    info.allocated = static_cast<int64_t>(st.st_blocks) * 512;
    info.volume = st.st_dev;
    info.id = st.st_ino;
    return info;
}

bool CanWriteIn(const std::string& directory)
{
    return access(directory.empty() ? "." : directory.c_str(), W_OK | X_OK) == 0;
}

std::vector<std::string> List(const std::string& directory)
{
    std::vector<std::string> names;
    DIR* listing = opendir(directory.c_str());
    if (!listing)
        return names;
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(std::move(name));
    }
    closedir(listing);
    return names;
}

std::string FitName(const std::string& utf8Name)
{
    return utf8Name;
}

size_t NameLength(const std::string& name)
{
    return name.size();
}

std::string Canonical(const std::string& path)
{
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? resolved : path;
}

int64_t FreeBytes(const std::string& directory)
{
    struct statvfs info;
    if (statvfs(directory.empty() ? "." : directory.c_str(), &info) != 0)
        return -1;
    // What this user may use: blocks reserved for root are not counted.
    return static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
}

std::string FileKey(const std::string& path)
{
    return path;
}

}  // namespace fsys
