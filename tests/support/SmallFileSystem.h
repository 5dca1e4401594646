// A small file system made for one test (a tmpfs of a given size mounted on
// a fresh directory), to meet a full disk for real. Needs root; Mounted()
// is false otherwise and the test skips.
#pragma once

#include <cstdint>
#include <string>

#include "tests/support/TempDir.h"

class SmallFileSystem {
public:
    explicit SmallFileSystem(int64_t bytes);
    ~SmallFileSystem();

    bool Mounted() const { return m_bMounted; }
    std::string operator/(const std::string& name) const { return m_dir / name; }
    // Gives it a new size, keeping what it holds.
    bool Resize(int64_t bytes);

private:
    TempDir m_dir;
    bool m_bMounted = false;
};
