#include "tests/support/DownloadHarness.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

#include "demo/DemoContent.h"

DownloadHarness::DownloadHarness()
{
    MountDemoContent(server.Routes(), &sent);
    server.Start();
    engine.m_hOwnerWnd = owner.GetSafeHwnd();
    // At loopback speed whether more connections pay is a matter of
    // microseconds; the tests want the segments (what most of them are
    // about) from the first byte on, as a slow link has them.
    engine.m_morePay = SegmentsAtOnce;
    // The waits before asking again are what the back-off tests are about;
    // everywhere else a second's wait per fault only costs time.
    engine.m_nFirstRetryWaitMs = 50;
}

bool DownloadHarness::SegmentsAtOnce(int64_t, double, double)
{
    return true;
}

DownloadHarness::~DownloadHarness()
{
    ReleaseFinalSync();
}

void DownloadHarness::HoldFinalSync()
{
    {
        std::lock_guard<std::mutex> guard(m_syncLock);
        m_bSyncHeld = true;
    }
    engine.m_finalSync = [this](fsys::Handle fd) {
        std::unique_lock<std::mutex> lock(m_syncLock);
        m_bSyncEntered = true;
        m_syncChanged.notify_all();
        m_syncChanged.wait(lock, [this] { return !m_bSyncHeld; });
        return fsys::Sync(fd);
    };
}

bool DownloadHarness::FinalSyncEntered()
{
    std::unique_lock<std::mutex> lock(m_syncLock);
    return m_syncChanged.wait_for(lock, std::chrono::seconds(20), [this] { return m_bSyncEntered; });
}

void DownloadHarness::ReleaseFinalSync()
{
    std::lock_guard<std::mutex> guard(m_syncLock);
    m_bSyncHeld = false;
    m_syncChanged.notify_all();
}

bool DownloadHarness::ThroughHttp2Front(int streamsPerConnection)
{
    front = std::make_unique<Http2Front>(server.Port(), streamsPerConnection);
    return front->Start();
}

std::string DownloadHarness::Url(int64_t size, const std::string& name, const std::string& query) const
{
    std::string path = "/content/" + std::to_string(size) + "/" + name + (query.empty() ? "" : "?" + query);
    return front ? front->Url(path) : server.Url(path);
}

std::string DownloadHarness::Expected(const std::string& name, int64_t size)
{
    std::string bytes(size, '\0');
    FillContent(name, 0, bytes.data(), bytes.size());
    return bytes;
}

uint8_t DownloadHarness::NextState(unsigned long milliseconds)
{
    CHeadlessOwner::Message message;
    while (owner.WaitMessage(message, milliseconds)) {
        if (message.msg == WM_DOWNLOAD_NOTIFY && message.lParam == reinterpret_cast<LPARAM>(&engine))
            return static_cast<uint8_t>(message.wParam);
    }
    return 0;
}

bool DownloadHarness::DownloadToEnd(const std::string& url, const std::string& dest, int restarts)
{
    std::vector<Fetch> one{{&engine, url, dest, restarts}};
    return DownloadAllToEnd(one);
}

bool DownloadHarness::DownloadAllToEnd(std::vector<Fetch>& fetches)
{
    for (Fetch& f : fetches)
        f.engine->Start(f.url.c_str(), f.dest.c_str());
    size_t left = fetches.size();
    CHeadlessOwner::Message message;
    while (left > 0 && owner.WaitMessage(message, 20000)) {
        auto f = std::find_if(fetches.begin(), fetches.end(), [&](const Fetch& f) {
            return message.msg == WM_DOWNLOAD_NOTIFY && message.lParam == reinterpret_cast<LPARAM>(f.engine);
        });
        if (f == fetches.end() || f->done)
            continue;
        if (message.wParam == DOWNLOAD_FINISHED) {
            f->done = true;
            --left;
        } else if (f->restarts-- > 0) {
            f->engine->Start(f->url.c_str(), f->dest.c_str());
        } else {
            return false;
        }
    }
    return left == 0;
}
