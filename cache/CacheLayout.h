// Where each resource lies on disk and what the cache holds: the program's
// paths, the path of a resource's file (its directories made on the way),
// the walk over the cache root and the presence rule.
//
// A resource lies at <program dir>/assets/<type>/[<module>/]<file name>,
// the file name being the decoded last segment of its URL. Names that would
// lead outside the cache root get no path at all.
//
// Not thread-safe: the caching job keeps its users apart (no download runs
// while the caching thread walks and checks).
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <string>
#include <unordered_map>
#include <vector>

#include "services/ResourceItem.h"

struct CachedFile {
    std::string path;  // full path, single "/" separators
    int64_t size;
};

class CCacheLayout {
public:
    // Paths from the program's own path ("/opt/qv/quorvel-client" gives
    // the program dir "/opt/qv" and the cache root "/opt/qv/assets").
    void SetupPaths(const std::string& modulePath);

    // The file path of `item`, its directory made on first use; false (and
    // no directory made) when its type, module or file name is unsafe: an
    // absolute or ".." type or module, a file name that is "." or ".." or
    // holds "/" or NUL after decoding; or when a level or the file name
    // (with the engine's suffixes) is longer than a file system takes: then
    // `tooLong`, when given, is set.
    bool GetCachePath(const ResourceItem& item, std::string& path, bool* tooLong = nullptr);
    // The file name of a resource: its URL's last segment, percent-decoded,
    // in the local code page; false when it is unsafe (see GetCachePath).
    static bool FileNameOf(const std::string& url, std::string& name);
    // Makes every missing level of `directory` (ending in "/"); false when
    // one cannot be made.
    static bool MakeDirs(const std::string& directory);

    // Makes the cache root if needed and tries a file in it: false when the
    // program directory is not writable (nothing could be cached).
    bool CanWriteCache() const;

    // Lists every file under the cache root. A raised `stop` (the job is
    // stopping) ends the walk early, with the list left incomplete.
    void ScanCache(const std::atomic<int>* stop = nullptr);
    void ClearScanList();
    // Present when the last walk saw a file at `path` that is not empty, or
    // is empty and `expectedSize` is 0 (unknown) or 0 is the expected size.
    bool IsCached(const std::string& path, int64_t expectedSize) const;

    const std::string& ExeDir() const { return m_szExeDir; }
    const std::string& AssetsDir() const { return m_szAssetsDir; }
    const std::vector<CachedFile>& CachedFiles() const { return m_cachedFiles; }

private:
    // FileNameOf without the length limit.
    static bool SafeNameOf(const std::string& url, std::string& name);
    void ScanDir(const std::string& directory, std::set<std::pair<uint64_t, uint64_t>>& visited,
                 const std::atomic<int>* stop);

    std::vector<CachedFile> m_cachedFiles;            // the last walk
    std::unordered_map<std::string, int64_t> m_cachedSizes;  // the same by path, for IsCached
    std::map<std::string, std::string> m_createdDirs;  // directories prepared since the window opened
    std::string m_szExeDir;
    std::string m_szModulePath;
    std::string m_szAssetsDir;
};
