#include "tests/support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <random>

#include "common/FileSystem.h"

// A new directory under the system's temporary directory, with '/' between
// levels on every system.
TempDir::TempDir()
{
    std::random_device random;
    std::filesystem::path base = std::filesystem::temp_directory_path();
    for (;;) {
        std::filesystem::path path = base / ("quorvel-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(path)) {
            m_path = path.generic_string();
            return;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

// Through the program's own file calls, which take the program's text (UTF-8
// on Windows) as the names are made.
std::string ReadWholeFile(const std::string& path)
{
    std::string content;
    fsys::Handle file = fsys::Open(path, fsys::Mode::Read);
    if (file == fsys::kNoFile)
        return content;
    char chunk[65536];
    for (int64_t n; (n = fsys::ReadAt(file, chunk, sizeof chunk, static_cast<int64_t>(content.size()))) > 0;)
        content.append(chunk, static_cast<size_t>(n));
    fsys::Close(file);
    return content;
}

bool FileExists(const std::string& path)
{
    return fsys::Stat(path).exists;
}
