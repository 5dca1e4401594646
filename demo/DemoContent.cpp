#include "demo/DemoContent.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <httplib.h>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "common/UrlDecode.h"
#include "demo/DemoData.h"

namespace {

uint64_t Mix(uint64_t x)
{
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

uint64_t Seed(std::string_view name)
{
    uint64_t seed = 1469598103934665603ull;
    for (char c : name)
        seed = (seed ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return seed;
}

struct Faults {
    int64_t dropAfter = -1;
    int64_t stallAfter = -1;
    int stallMs = 30000;
    int64_t rate = 0;  // bytes per second per answer; 0 is unlimited
    bool noLength = false;
    bool ranged = false;  // the request asked for a range
    std::atomic<int64_t>* sentCounter = nullptr;  // the server's count of ranged bytes sent
};

// How this server's validators look, as content hosts in the field differ.
struct Validators {
    std::string etag;          // empty: none sent
    std::string lastModified;  // empty: none sent
};

std::atomic<int> g_version{1};  // of every file: changes bytes and ETag
std::atomic<int> g_nodeTurn{0};  // which node of nodes=N answers next
std::atomic<int> g_rttMs{0};
std::atomic<int> g_connectTrips{1};
std::atomic<int64_t> g_linkRate{0};

// A server thread serves one connection until it closes, so a peer other
// than the last one this thread served is a new connection.
void WaitAsAWideAreaLink(const httplib::Request& req)
{
    int rtt = g_rttMs;
    if (rtt <= 0)
        return;
    thread_local std::string lastPeer;
    std::string peer = req.remote_addr + ":" + std::to_string(req.remote_port);
    int trips = peer == lastPeer ? 1 : 1 + g_connectTrips;
    lastPeer = peer;
    std::this_thread::sleep_for(std::chrono::milliseconds(trips * rtt));
}

int64_t Param(const httplib::Request& req, const char* key, int64_t fallback)
{
    return req.has_param(key) ? std::stoll(req.get_param_value(key)) : fallback;
}

// The same URL without its redirect parameter.
std::string WithoutRedirect(const httplib::Request& req)
{
    std::string target = req.target;
    std::string param = "redirect=" + req.get_param_value("redirect");
    size_t at = target.find(param);
    target.erase(at, param.size());
    while (!target.empty() && (target.back() == '&' || target.back() == '?'))
        target.pop_back();
    size_t doubled = target.find("?&");
    if (doubled != std::string::npos)
        target.erase(doubled + 1, 1);
    return target;
}

// Sends bytes [offset, offset + length) of the file, or what the faults allow.
bool SendBody(const std::string& name, const Faults& faults, int64_t& sent, size_t offset,
              size_t length, httplib::DataSink& sink)
{
    const size_t chunk = faults.rate > 0 ? std::max<size_t>(1024, faults.rate / 50) : 65536;
    std::unique_ptr<char[]> buffer(new char[chunk]);
    auto began = std::chrono::steady_clock::now();
    int64_t sentBefore = sent;
    size_t end = offset + length;
    while (offset < end) {
        size_t piece = std::min(chunk, end - offset);
        if (faults.dropAfter >= 0)
            piece = std::min<int64_t>(piece, faults.dropAfter - sent);
        if (faults.stallAfter >= 0 && sent >= faults.stallAfter) {
            std::this_thread::sleep_for(std::chrono::milliseconds(faults.stallMs));
            return false;
        }
        if (faults.stallAfter >= 0)
            piece = std::min<int64_t>(piece, faults.stallAfter - sent);
        if (piece == 0)
            return false;  // the drop point: close the connection
        FillContent(name, offset, buffer.get(), piece);
        if (!sink.write(buffer.get(), piece))
            return false;
        offset += piece;
        sent += piece;
        if (faults.sentCounter && faults.ranged)
            *faults.sentCounter += piece;
        if (faults.rate > 0)
            std::this_thread::sleep_until(began + std::chrono::microseconds((sent - sentBefore) * 1000000 / faults.rate));
    }
    return true;
}

// Every version of a file has its own ETag ("v<version>", weak with
// weak=1, none with noetag=1) and its own Last-Modified. With nodes=N the
// answers take turns among N nodes of a load balancer: the same bytes, but
// each node's own ETag ("v<version>-n<node>") and modification time.
Validators ValidatorsOf(const httplib::Request& req, int version)
{
    int node = req.has_param("nodes") ? g_nodeTurn++ % std::max<int64_t>(1, Param(req, "nodes", 1)) : 0;
    Validators v;
    if (!req.has_param("noetag"))
        v.etag = (req.has_param("weak") ? "W/\"v" : "\"v") + std::to_string(version) +
                 (node ? "-n" + std::to_string(node) : "") + "\"";
    if (!req.has_param("nolastmodified") && !req.has_param("noetag")) {
        char date[40];
        std::snprintf(date, sizeof date, "Mon, 07 Dec 2026 10:%02d:%02d GMT", node, version % 60);
        v.lastModified = date;
    }
    return v;
}

// RFC 9110's If-Range: a strong ETag equal to the current one, or the
// exact Last-Modified date; a weak tag never matches.
bool IfRangeMatches(const std::string& ifRange, const Validators& v)
{
    if (ifRange.rfind("W/", 0) == 0)
        return false;
    if (!ifRange.empty() && ifRange[0] == '"')
        return ifRange == v.etag;
    return !v.lastModified.empty() && ifRange == v.lastModified;
}

// True for the first ranged request of this target, for droponce=N.
bool FirstRangeOf(const std::string& target)
{
    static std::mutex lock;
    static std::set<std::string> seen;
    std::lock_guard<std::mutex> guard(lock);
    return seen.insert(target).second;
}

void ServeFile(const httplib::Request& req, httplib::Response& res, const std::string& name, int64_t size,
               std::atomic<int64_t>* sentCounter)
{
    WaitAsAWideAreaLink(req);
    if (req.has_param("status") || (req.has_param("rangestatus") && req.has_header("Range"))) {
        res.status = static_cast<int>(Param(req, req.has_param("status") ? "status" : "rangestatus", 500));
        return;
    }
    if (req.has_param("redirect")) {
        res.set_redirect(WithoutRedirect(req));
        // nginx and Apache send a page with every redirect, whole whatever
        // range was asked.
        const_cast<httplib::Request&>(req).ranges.clear();
        if (req.get_param_value("redirect") == "html")
            res.set_content("<html><head><title>302 Found</title></head><body>moved</body></html>\r\n",
                            "text/html");
        return;
    }
    // A host that changes the file as the first range arrives (the size
    // query saw the old version).
    if (req.has_param("changeonrange") && req.has_header("Range") && g_version == 1)
        g_version = 2;
    int version = g_version;
    Validators validators = ValidatorsOf(req, version);
    if (!validators.etag.empty())
        res.set_header("ETag", validators.etag);
    if (!validators.lastModified.empty())
        res.set_header("Last-Modified", validators.lastModified);
    if (!req.has_param("ignoreifrange") && req.has_header("If-Range") &&
        !IfRangeMatches(req.get_header_value("If-Range"), validators))
        const_cast<httplib::Request&>(req).ranges.clear();
    std::string key = DemoContentKey(name, version);
    Faults faults;
    faults.dropAfter = Param(req, "drop", -1);
    if (req.has_param("droponce") && req.has_header("Range") && FirstRangeOf(req.target))
        faults.dropAfter = Param(req, "droponce", -1);
    faults.stallAfter = Param(req, "stall", -1);
    faults.stallMs = static_cast<int>(Param(req, "stall_ms", 30000));
    faults.rate = Param(req, "rate", g_linkRate);
    faults.noLength = req.has_param("nolength");
    faults.ranged = req.has_header("Range");
    faults.sentCounter = sentCounter;
    if (req.has_param("norange"))
        const_cast<httplib::Request&>(req).ranges.clear();  // answer 200 with the whole file

    auto sent = std::make_shared<int64_t>(0);
    if (faults.noLength) {
        res.set_chunked_content_provider("application/octet-stream",
            [key, faults, sent, size](size_t offset, httplib::DataSink& sink) {
                if (offset >= static_cast<size_t>(size)) {
                    sink.done();
                    return true;
                }
                return SendBody(key, faults, *sent, offset, std::min<size_t>(65536, size - offset), sink);
            });
        return;
    }
    if (size == 0) {
        res.set_content("", "application/octet-stream");  // says "Content-Length: 0"
        return;
    }
    res.set_content_provider(static_cast<size_t>(size), "application/octet-stream",
        [key, faults, sent](size_t offset, size_t length, httplib::DataSink& sink) {
            return SendBody(key, faults, *sent, offset, length, sink);
        });
}

const DemoResource* FindResource(const std::string& meetId, const std::string& file)
{
    for (const DemoMeeting& meeting : DemoMeetings())
        if (meeting.meet_id == meetId)
            for (const DemoResource& resource : meeting.resources)
                if (UrlDecode(resource.file) == file)
                    return &resource;
    return nullptr;
}

}  // namespace

void FillContent(std::string_view name, int64_t offset, char* out, size_t length)
{
    uint64_t seed = Seed(name);
    for (size_t i = 0; i < length;) {
        int64_t at = offset + static_cast<int64_t>(i);
        uint64_t word = Mix(seed ^ static_cast<uint64_t>(at / 8));
        for (int b = static_cast<int>(at % 8); b < 8 && i < length; ++b, ++i)
            out[i] = static_cast<char>(word >> (8 * b));
    }
}

std::string DemoContentKey(std::string_view name, int version)
{
    return version == 1 ? std::string(name) : std::string(name) + "@v" + std::to_string(version);
}

void SetDemoLink(int rttMs, int64_t bytesPerSecond, int connectTrips)
{
    g_rttMs = rttMs;
    g_connectTrips = connectTrips;
    g_linkRate = bytesPerSecond;
}

void SetDemoContentVersion(int version)
{
    g_version = version;
}

void MountDemoContent(httplib::Server& server, std::atomic<int64_t>* sentCounter)
{
    // Hosts keep a connection for many requests (nginx: 1000), not
    // httplib's 5, or every client would pay a new connection per file.
    server.set_keep_alive_max_count(1000);
    // The head and the body go out in separate writes; with Nagle's rule the
    // body then waits for the client's delayed ACK, 40 ms per answer on a
    // kept connection.
    server.set_tcp_nodelay(true);
    server.Get(R"(/files/([^/]+)/(.+))", [sentCounter](const httplib::Request& req, httplib::Response& res) {
        const DemoResource* resource = FindResource(req.matches[1], req.matches[2]);
        if (!resource) {
            res.status = 404;
            return;
        }
        ServeFile(req, res, std::string(req.matches[1]) + "/" + std::string(req.matches[2]), resource->size,
                  sentCounter);
    });
    server.Get(R"(/content/(\d+)/(.+))", [sentCounter](const httplib::Request& req, httplib::Response& res) {
        ServeFile(req, res, req.matches[2], std::stoll(req.matches[1]), sentCounter);
    });
}
