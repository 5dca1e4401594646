#include "net/SideFile.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

bool LoadSideFile(const std::string& path, int64_t fileSize, uint64_t identity, std::vector<SegmentInfo>& segments)
{
    segments.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    char bytes[kSegmentRecordSize * kMaxSegments + 1];
    ssize_t n = read(fd, bytes, sizeof bytes);
    close(fd);
    uint64_t stored = 0;
    if (n <= 0 || !DecodeSegments(std::string_view(bytes, n), segments, &stored) || stored == 0 ||
        stored != identity || !SegmentsCoverFile(segments, fileSize)) {
        segments.clear();
        return false;
    }
    return true;
}

bool SaveSideFile(const std::string& path, const std::vector<SegmentInfo>& segments, uint64_t identity)
{
    std::string bytes = EncodeSegments(segments, identity);
    std::string fresh = path + ".new";
    // Never through a link planted in its place.
    int fd = open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    bool written = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    written = close(fd) == 0 && written;
    if (!written || std::rename(fresh.c_str(), path.c_str()) != 0) {
        unlink(fresh.c_str());
        return false;
    }
    return true;
}
