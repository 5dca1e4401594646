#include "tools/Destination.h"

#include <cerrno>
#include <cstring>
#include <strings.h>

#include "cache/CacheLayout.h"
#include "common/FileSystem.h"
#include "common/Utf8ToLocal.h"
#include "net/DiskSpace.h"
#include "tools/Say.h"
#include "tools/UserPath.h"

bool UsableUrl(const std::string& url)
{
    auto starts = [&](const char* scheme) { return strncasecmp(url.c_str(), scheme, std::strlen(scheme)) == 0; };
    size_t host = starts("http://") ? 7 : starts("https://") ? 8 : 0;
    if (host > 0 && url.size() > host && url[host] != '/')
        return true;
    Say(stderr, "qv-download: not an http or https URL: '%s'\n", Utf8ToLocal(url).c_str());
    return false;
}

bool Destination(const std::string& url, const std::string& dest, std::string& path)
{
    bool directory = dest.empty() || dest == "." || dest.back() == '/' || fsys::Stat(dest).directory;
    if (!directory) {
        path = dest;
        return true;
    }
    // The name is the path's last segment: neither the query nor the
    // fragment is part of it, and an empty one is no name.
    std::string name;
    if (!CCacheLayout::FileNameOf(url.substr(0, url.find_first_of("?#")), name) || name.empty())
        return false;
    std::string dir = dest.empty() ? "." : dest;
    path = dir + (dir.back() == '/' ? "" : "/") + name;
    return true;
}

bool Writable(const std::string& path)
{
    if (fsys::CanWriteIn(DirectoryOf(path)))
        return true;
    Say(stderr, "qv-download: cannot write %s: %s\n", ShownPath(path).c_str(), std::strerror(errno));
    return false;
}

std::string UnusedPath(const std::string& path, std::set<std::string>& used)
{
    size_t slash = path.rfind('/') + 1, dot = path.rfind('.');
    if (dot == std::string::npos || dot <= slash)
        dot = path.size();
    std::string candidate = path;
    for (int n = 1; !used.insert(fsys::FileKey(candidate)).second; ++n)
        candidate = path.substr(0, dot) + "." + std::to_string(n) + path.substr(dot);
    return candidate;
}
