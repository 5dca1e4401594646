#include "cache/CacheLayout.h"

#include <algorithm>
#include <set>
#include <utility>

#include "common/FileSystem.h"

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

// A backslash separates levels on Windows: it is refused on every system,
// in the service's UTF-8 text, where no multibyte character holds that byte.
bool SafeLevel(const std::string& level)
{
    return (level.empty() || level[0] != '/') && !HasDotDotLevel(level) &&
           level.find('\0') == std::string::npos && level.find('\\') == std::string::npos;
}

// The longest name a file system takes (NAME_MAX of the usual ones); the
// engine's files beside the resource add their suffixes to its name.
constexpr size_t kNameMax = 255;
constexpr size_t kLongestSuffix = sizeof(".info.new") - 1;

bool SafeFileName(const std::string& name)
{
    return name != "." && name != ".." && name.find('/') == std::string::npos && name.find('\0') == std::string::npos;
}

// "video/", "./video" and "video/./m" name the directories the walk lists as
// "video" and "video/m": empty and "." levels are dropped. Each level is
// made fit for the system, as a file name is; false when one is left empty
// ("..." on Windows). `longest` grows to the longest level's length.
bool FitLevels(const std::string& levels, std::string& fitted, size_t& longest)
{
    fitted.clear();
    size_t start = 0;
    while (start <= levels.size()) {
        size_t slash = levels.find('/', start);
        size_t end = slash == std::string::npos ? levels.size() : slash;
        std::string part = levels.substr(start, end - start);
        if (!part.empty() && part != ".") {
            std::string fit = fsys::FitName(part);
            if (fit.empty())
                return false;
            std::string local = Utf8ToLocal(fit);
            longest = std::max(longest, fsys::NameLength(local));
            fitted += (fitted.empty() ? "" : "/") + local;
        }
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return true;
}

}  // namespace

void CCacheLayout::SetupPaths(const std::string& modulePath)
{
    m_szModulePath = modulePath;
    size_t slash = modulePath.rfind('/');
    m_szExeDir = slash == std::string::npos ? std::string() : modulePath.substr(0, slash);
    m_szAssetsDir = m_szExeDir + "/assets";
}

bool CCacheLayout::GetCachePath(const ResourceItem& item, std::string& path, bool* tooLong)
{
    // The checks run on the service's text; fitting and the local code page
    // only change characters that cannot lead out of the cache.
    std::string fileName, type, module;
    size_t longest = 0;
    bool safe = SafeLevel(item.type) && SafeLevel(item.module) && FitLevels(item.type, type, longest) &&
                FitLevels(item.module, module, longest) && SafeNameOf(item.url, fileName);
    bool fits = longest <= kNameMax && fsys::NameLength(fileName) + kLongestSuffix <= kNameMax;
    if (tooLong)
        *tooLong = safe && !fits;
    if (!safe || !fits)
        return false;
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
    return SafeNameOf(url, name) && fsys::NameLength(name) + kLongestSuffix <= kNameMax;
}

bool CCacheLayout::SafeNameOf(const std::string& url, std::string& name)
{
    size_t slash = url.rfind('/');
    std::string decoded = UrlDecode(slash == std::string::npos ? url : url.substr(slash + 1));
    std::string fit = fsys::FitName(decoded);
    name = Utf8ToLocal(fit);
    return decoded.find('\\') == std::string::npos && SafeFileName(decoded) && SafeFileName(name) &&
           fit.empty() == decoded.empty();
}

// The missing levels from the deepest one that exists down, so that a root
// that cannot be asked for as a directory ("//server" of a share) is never
// made.
bool CCacheLayout::MakeDirs(const std::string& directory)
{
    std::vector<std::string> missing;
    for (size_t slash = directory.rfind('/'); slash != std::string::npos && slash > 0;
         slash = directory.rfind('/', slash - 1)) {
        std::string level = directory.substr(0, slash);
        if (fsys::Stat(level).exists)
            break;
        missing.push_back(std::move(level));
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level)
        if (!fsys::MakeDir(*level))
            return false;
    return true;
}

bool CCacheLayout::CanWriteCache() const
{
    if (!MakeDirs(m_szAssetsDir + "/"))
        return false;
    std::string probe = m_szAssetsDir + "/.write-test";
    fsys::Handle file = fsys::Open(probe, fsys::Mode::Fresh);
    if (file == fsys::kNoFile)
        return false;
    fsys::Close(file);
    fsys::Remove(probe);
    return true;
}

void CCacheLayout::ScanCache(const std::atomic<int>* stop)
{
    ClearScanList();
    std::set<std::pair<uint64_t, uint64_t>> visited;
    ScanDir(m_szAssetsDir, visited, stop);
    m_cachedSizes.reserve(m_cachedFiles.size());
    for (const CachedFile& file : m_cachedFiles)
        m_cachedSizes.emplace(fsys::FileKey(file.path), file.size);
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
void CCacheLayout::ScanDir(const std::string& directory, std::set<std::pair<uint64_t, uint64_t>>& visited,
                           const std::atomic<int>* stop)
{
    fsys::Info self = fsys::Stat(directory);
    if (!self.exists || !visited.insert({self.volume, self.id}).second)
        return;
    for (const std::string& name : fsys::List(directory)) {
        if (stop && *stop)
            return;
        std::string path = directory + "/" + name;
        fsys::Info st = fsys::Stat(path);
        if (st.directory)
            ScanDir(path, visited, stop);
        else if (st.regular)
            m_cachedFiles.push_back({path, st.size});
    }
}

// A lookup by file key, so checking every row of a large meeting stays
// linear, and "Video/x.mp4" on disk is the row's "video/x.mp4" where the
// system ignores case.
bool CCacheLayout::IsCached(const std::string& path, int64_t expectedSize) const
{
    auto it = m_cachedSizes.find(fsys::FileKey(path));
    return it != m_cachedSizes.end() &&
           (it->second == expectedSize || it->second > 0 || expectedSize == 0);
}
