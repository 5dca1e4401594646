// The file-system calls of the engine and the cache, one implementation per
// system (posix/FileSystem.cpp, win32/FileSystem.cpp). Paths are narrow
// strings in the local code page (UTF-8 on Windows) with '/' between
// levels; Windows takes them as UTF-16 in their long form, without the
// limit of 260 characters. A failed call leaves its cause in errno
// (ENAMETOOLONG when a name or path is longer than the system takes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fsys {

using Handle = intptr_t;
constexpr Handle kNoFile = -1;

enum class Mode {
    Read,       // existing file, reading
    ReadWrite,  // made when missing, kept as it is otherwise
    Fresh,      // made when missing, emptied otherwise; writing
};

// Never through a symbolic link (Windows: a reparse point) in the file's
// own place; not inherited by child processes.
Handle Open(const std::string& path, Mode mode);
// False when the last write-back failed.
bool Close(Handle file);
// Writes every byte at `offset`; false on an error.
bool WriteAt(Handle file, const char* bytes, size_t length, int64_t offset);
// Bytes read at `offset`: 0 at the end, -1 on an error.
int64_t ReadAt(Handle file, char* bytes, size_t length, int64_t offset);
// Gives the file room for `size` bytes (it grows to at least that): 0, or
// the error's errno value (ENOSPC for a full disk). POSIX reserves the
// blocks; Windows makes the file sparse and reserves nothing, since NTFS
// would otherwise fill it with zeros below a far write, synchronously.
// `reserved`: the disk now holds the room for the whole file.
int Allocate(Handle file, int64_t size, bool& reserved);
bool SetSize(Handle file, int64_t size);
// Locks the whole file, exclusively and without waiting, for as long as
// this handle is open (POSIX: flock; Windows: LockFileEx): true when
// locked; false with errno EWOULDBLOCK when another holder has it.
bool LockExclusive(Handle file);
// The written bytes (SyncData) or bytes and size (Sync) reach the disk: 0,
// or -1 with errno set.
int SyncData(Handle file);
int Sync(Handle file);

// Moves `from` onto `to`, replacing it, the change itself on the disk.
bool Replace(const std::string& from, const std::string& to);
bool Remove(const std::string& path);
bool MakeDir(const std::string& path);

struct Info {
    bool exists = false;
    bool directory = false;
    bool regular = false;
    int64_t size = 0;
    int64_t allocated = 0;      // bytes the disk holds for it
    uint64_t volume = 0, id = 0;  // the same pair for the same file
};
// Follows a link in the last place only when `followLink` is set.
Info Stat(const std::string& path, bool followLink = true);
// The process may make files in `directory`.
bool CanWriteIn(const std::string& directory);
// The names of the entries, "." and ".." left out; empty when unreadable.
std::vector<std::string> List(const std::string& directory);
// A file or directory name (UTF-8) made fit for this system. Windows
// forbids <>:"|?* and control characters in names (a URL's query brings
// '?'): they become '_' (a NUL stays, for the caller to refuse); trailing
// dots and spaces, which Windows drops, are dropped; a device's name
// ("CON", "nul.mp4") gets '_' after its base ("CON_", "nul_.mp4"). A name
// of dots and spaces only comes out empty. POSIX takes every name as it is.
std::string FitName(const std::string& utf8Name);
// The length of a name as the file system counts it against its limit
// (255 on the usual ones): bytes on POSIX, UTF-16 units on Windows.
size_t NameLength(const std::string& name);
// The absolute path without links, "." or ".." levels; `path` itself when
// it cannot be resolved.
std::string Canonical(const std::string& path);
// Free bytes this user may use on the volume of `directory`; -1 when it
// cannot be asked.
int64_t FreeBytes(const std::string& directory);

// The key under which the system files `path`: the path itself, or, where
// names that differ only in case name one file (Windows), the path folded
// to upper case, as NTFS compares names. Two paths of one key are one file.
std::string FileKey(const std::string& path);

}  // namespace fsys
