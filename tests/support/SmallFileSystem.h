// A small file system made for one test, mounted on a fresh directory, to
// meet a full disk for real: a tmpfs of a given size, or an ext4 image with
// a share of its blocks kept for root. Needs root (and a loop device for the
// image); Mounted() is false otherwise and the test skips.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/TempDir.h"

class SmallFileSystem {
public:
    explicit SmallFileSystem(int64_t bytes);
    SmallFileSystem(int64_t bytes, int reservedPercent);
    ~SmallFileSystem();

    bool Mounted() const { return m_bMounted; }
    const std::string& Path() const { return m_dir.Path(); }
    std::string operator/(const std::string& name) const { return m_dir / name; }
    // Gives a tmpfs a new size, keeping what it holds.
    bool Resize(int64_t bytes);

private:
    TempDir m_dir;
    bool m_bMounted = false;
};
