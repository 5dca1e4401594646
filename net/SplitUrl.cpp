#include "net/SplitUrl.h"

#include <cstdlib>
#include <string_view>

bool SplitUrl(const char* url, UrlParts& parts)
{
    parts = UrlParts{};
    if (!url || !*url)
        return false;
    std::string_view text(url);
    if (text.find("http://") == std::string_view::npos)
        return false;

    size_t hostStart = text.find("://") + 3;
    size_t slash = text.find('/', hostStart);
    std::string_view hostPart = text.substr(hostStart, slash == std::string_view::npos
                                                           ? std::string_view::npos
                                                           : slash - hostStart);
    std::string_view path = slash == std::string_view::npos ? std::string_view() : text.substr(slash);
    if (hostPart.size() > kUrlFieldMax || path.size() > kUrlFieldMax)
        return false;

    size_t colon = hostPart.rfind(':');
    if (colon != std::string_view::npos && colon > 0) {
        parts.port = std::atoi(std::string(hostPart.substr(colon + 1)).c_str());
        hostPart = hostPart.substr(0, colon);
    }
    parts.host = hostPart;
    parts.path = path;
    return true;
}
