#include "cache/CacheLayout.h"

#include <dirent.h>
#include <set>
#include <utility>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/UrlDecode.h"
#include "common/Utf8ToLocal.h"

namespace {

// No empty levels: an empty type or module must not double a separator,
// or the walk's paths would never match.
std::string JoinLevels(std::initializer_list<const std::string*> levels)
{
    std::string path;
    for (const std::string* level : levels) {
        if (level->empty())
            continue;
        if (!path.empty() && path.back() != '/')
            path += '/';
        path += *level;
    }
    return path;
}

bool HasDotDotLevel(const std::string& text)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t slash = text.find('/', start);
        size_t end = slash == std::string::npos ? text.size() : slash;
        if (text.compare(start, end - start, "..") == 0)
            return true;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return false;
}

bool SafeLevel(const std::string& level)
{
    return (level.empty() || level[0] != '/') && !HasDotDotLevel(level) &&
           level.find('\0') == std::string::npos;
}

// The longest name a file system takes (NAME_MAX of the usual ones); the
// engine's files beside the resource add their suffixes to its name.
constexpr size_t kNameMax = 255;
constexpr size_t kLongestSuffix = sizeof(".info.new") - 1;

bool SafeFileName(const std::string& name)
{
    return name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.size() + kLongestSuffix <= kNameMax;
}

// "video/", "./video" and "video/./m" name the directories the walk lists as
// "video" and "video/m": empty and "." levels are dropped.
std::string NormalLevels(const std::string& level)
{
    std::string normal;
    size_t start = 0;
    while (start <= level.size()) {
        size_t slash = level.find('/', start);
        size_t end = slash == std::string::npos ? level.size() : slash;
        std::string part = level.substr(start, end - start);
        if (!part.empty() && part != ".")
            normal += (normal.empty() ? "" : "/") + part;
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return normal;
}

}  // namespace

void CCacheLayout::SetupPaths(const std::string& modulePath)
{
    m_szModulePath = modulePath;
    size_t slash = modulePath.rfind('/');
    m_szExeDir = slash == std::string::npos ? std::string() : modulePath.substr(0, slash);
    m_szAssetsDir = m_szExeDir + "/assets";
}

bool CCacheLayout::GetCachePath(const ResourceItem& item, std::string& path)
{
    std::string fileName;
    if (!SafeLevel(item.type) || !SafeLevel(item.module) || !FileNameOf(item.url, fileName))
        return false;
    std::string type = NormalLevels(item.type), module = NormalLevels(item.module);
    std::string directory = JoinLevels({&m_szAssetsDir, &type, &module}) + "/";
    path = directory + fileName;
    if (m_createdDirs.find(directory) == m_createdDirs.end()) {
        MakeDirs(directory);  // a failure shows as a failed download
        m_createdDirs[directory] = directory;
    }
    return true;
}

bool CCacheLayout::FileNameOf(const std::string& url, std::string& name)
{
    size_t slash = url.rfind('/');
    name = Utf8ToLocal(UrlDecode(slash == std::string::npos ? url : url.substr(slash + 1)));
    return SafeFileName(name);
}

bool CCacheLayout::MakeDirs(const std::string& directory)
{
    for (size_t slash = directory.find('/', 1); slash != std::string::npos;
         slash = directory.find('/', slash + 1)) {
        std::string level = directory.substr(0, slash);
        struct stat st;
        if (stat(level.c_str(), &st) != 0 && mkdir(level.c_str(), 0755) != 0)
            return false;
    }
    return true;
}

bool CCacheLayout::CanWriteCache() const
{
    if (!MakeDirs(m_szAssetsDir + "/"))
        return false;
    std::string probe = m_szAssetsDir + "/.write-test";
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    close(fd);
    unlink(probe.c_str());
    return true;
}

void CCacheLayout::ScanCache()
{
    ClearScanList();
    std::set<std::pair<dev_t, ino_t>> visited;
    ScanDir(m_szAssetsDir, visited);
    m_cachedSizes.reserve(m_cachedFiles.size());
    for (const CachedFile& file : m_cachedFiles)
        m_cachedSizes.emplace(file.path, file.size);
}

void CCacheLayout::ClearScanList()
{
    m_cachedFiles.clear();
    m_cachedSizes.clear();
}

// Lists by full paths; the process's current directory is left alone.
// Symbolic links are followed (an operator may move assets/video to another
// disk and link it back); a directory already listed is not entered again,
// so a link loop ends.
void CCacheLayout::ScanDir(const std::string& directory, std::set<std::pair<dev_t, ino_t>>& visited)
{
    struct stat self;
    if (stat(directory.c_str(), &self) != 0 || !visited.insert({self.st_dev, self.st_ino}).second)
        return;
    DIR* listing = opendir(directory.c_str());
    if (!listing)
        return;
    while (dirent* entry = readdir(listing)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = directory + "/" + name;
        struct stat st;
        if (stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            ScanDir(path, visited);
        else if (S_ISREG(st.st_mode))
            m_cachedFiles.push_back({path, static_cast<int64_t>(st.st_size)});
    }
    closedir(listing);
}

// A lookup by path, so checking every row of a large meeting stays linear.
bool CCacheLayout::IsCached(const std::string& path, int64_t expectedSize) const
{
    auto it = m_cachedSizes.find(path);
    return it != m_cachedSizes.end() &&
           (it->second == expectedSize || it->second > 0 || expectedSize == 0);
}
