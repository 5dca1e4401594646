#include "net/Validators.h"

#include "net/HeaderLine.h"
#include "net/SegmentInfo.h"

void Validators::TakeHeaderLine(const std::string& line)
{
    if (line.rfind("HTTP/", 0) == 0)
        *this = Validators{};
    else if (!HeaderLineIs(line, "ETag", etag))
        HeaderLineIs(line, "Last-Modified", lastModified);
}

const std::string& Validators::ForIfRange() const
{
    return HasStrongEtag() ? etag : lastModified;
}

bool Validators::DiffersFrom(const Validators& other) const
{
    return (!etag.empty() && !other.etag.empty() && etag != other.etag) ||
           (!lastModified.empty() && !other.lastModified.empty() && lastModified != other.lastModified);
}

std::string Validators::Describe() const
{
    if (!etag.empty())
        return "ETag " + etag;
    return lastModified.empty() ? "no validator" : "Last-Modified " + lastModified;
}

uint64_t DownloadIdentity(const std::string& url, const Validators& v)
{
    if (v.HasStrongEtag())
        return SideFileIdentity(url.substr(0, url.find_first_of("?#")), v.etag);
    return SideFileIdentity(url, v.etag.empty() ? v.lastModified : v.etag);
}
