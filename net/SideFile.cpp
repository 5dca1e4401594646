#include "net/SideFile.h"

#include "common/FileSystem.h"

bool LoadSideFile(const std::string& path, int64_t fileSize, uint64_t identity, std::vector<SegmentInfo>& segments)
{
    segments.clear();
    fsys::Handle file = fsys::Open(path, fsys::Mode::Read);
    if (file == fsys::kNoFile)
        return false;
    char bytes[kSegmentRecordSize * kMaxSegments + 1];
    int64_t n = fsys::ReadAt(file, bytes, sizeof bytes, 0);
    fsys::Close(file);
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
    fsys::Handle file = fsys::Open(fresh, fsys::Mode::Fresh);
    if (file == fsys::kNoFile)
        return false;
    bool written = fsys::WriteAt(file, bytes.data(), bytes.size(), 0);
    written = fsys::Close(file) && written;
    if (!written || !fsys::Replace(fresh, path)) {
        fsys::Remove(fresh);
        return false;
    }
    return true;
}
