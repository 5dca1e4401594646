#include "net/HttpDownload.h"

#include <algorithm>
#include <cctype>

#include "common/CodePage.h"
#include "common/Md5.h"
#include "common/Trace.h"
#include "common/UrlText.h"
#include "framework/PostMessage.h"
#include "net/CurlGlobal.h"

CHttpDownload::CHttpDownload()
{
    EnsureCurlGlobal();
}

CHttpDownload::~CHttpDownload()
{
    Stop();
}

// What the Windows shell takes for a URL (one letter before the colon would
// be a drive).
bool CHttpDownload::AcceptsUrl(const char* text)
{
    if (!text || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    const char* p = text + 1;
    while (std::isalnum(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-' || *p == '.')
        ++p;
    return *p == ':' && p - text >= 2;
}

void CHttpDownload::SetUpLike(const CHttpDownload& other)
{
    if (&other == this)
        return;
    static_cast<EngineSettings&>(*this) = other;
    m_hOwnerWnd = other.m_hOwnerWnd;
    m_pConnections = other.m_pConnections;
}

int CHttpDownload::Start(const char* url, const char* dest, int, const char* md5, int64_t listedSize)
{
    Stop();
    m_stopEvent.ResetEvent();
    m_nStopFlag = 0;
    m_queryStop.Reset();
    if (!AcceptsUrl(url) || !dest)
        return 0;
    // Content URLs may carry spaces or raw UTF-8; the transport refuses them.
    m_strUrl = EscapeTransportBytes(url, true);
    m_strDestPath = dest;
    m_file.SetDestination(m_strDestPath);
    std::string digest = md5 && IsMd5Hex(md5) ? md5 : "";
    // A restart of the same file (an owner's retry) keeps what earlier
    // starts learned of it: a first copy unlike the md5, answers that
    // disagree on its version.
    std::string file = m_strUrl + '\n' + m_strDestPath + '\n' + digest + '\n' + std::to_string(listedSize);
    if (file != m_strFile) {
        m_strFile = file;
        m_completion.Forget();
        m_bOneStream = false;
        m_nDisagreements = 0;
    }
    m_completion.Begin(digest, listedSize);
    m_policy.stallSeconds = m_nStallSeconds;
    m_nDownloaded = 0;
    m_signals.buffered = 0;
    m_nFileSize = 0;
    m_nState = DOWNLOAD_RUNNING;
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        m_failure = DownloadFailure{};
    }
    m_signals.finishing = false;
    m_signals.wantsConnections = false;
    DebugLog("download start %s -> %s", UrlWithoutQuery(m_strUrl).c_str(), LocalToUtf8(dest).c_str());
    m_thread = std::thread(&CHttpDownload::DownloadProc, this);
    return 0;
}

void CHttpDownload::RequestStop()
{
    m_nStopFlag = 1;
    m_stopEvent.SetEvent();
    m_queryStop.Stop();
}

void CHttpDownload::Stop()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
    m_completion.Cancel();
    m_file.Close();
}

void CHttpDownload::CloseConnections()
{
    Stop();
    Connections().Close();
}

// Rounds until the file is in place or a stop; after a posted failure the
// next round waits a little longer each time, so a dead server is not
// hammered. Stop (and so Start) cuts the wait short.
void CHttpDownload::DownloadProc()
{
    // A file that an earlier start left to its sync may be this one.
    if (!m_completion.AwaitEarlier(m_stopEvent, m_signals.finishing))
        return;
    unsigned long wait = m_nFirstRetryWaitMs;
    for (int result; (result = DownloadRound()) != 0 && !Stopping();) {
        if (result == kFetchAgain)
            continue;
        if (WaitForSingleObject(m_stopEvent, wait) == WAIT_OBJECT_0)
            break;
        wait = std::min(wait * 2, kLongestRetryWaitMs);
    }
}

int CHttpDownload::DownloadRound()
{
    CDownloadRound::Result result = CDownloadRound({m_strUrl, m_bOneStream, m_file, Connections(), m_policy, *this,
                                                    m_signals, m_stopEvent, m_queryStop, m_fRate, m_nFileSize})
                                        .Run();
    switch (result.end) {
    case CDownloadRound::End::Stopped:
        return 0;
    case CDownloadRound::End::Complete:
        return FinishFile();
    case CDownloadRound::End::Changed:
        return VersionsDisagree(result.failure);
    case CDownloadRound::End::Failed:
        break;
    }
    Fail(result.failure);
    return -1;
}

// A range answer named another version than the size query's: what was
// written may belong to either, so the file starts over, never splicing
// the two. A file replaced on the server comes whole in the next round;
// nodes behind one name that disagree on their validators never agree, so
// from now on the file comes in one stream from byte 0, resumed only from
// that stream's own validator. A host that cannot give one consistent copy
// in a few tries fails.
int CHttpDownload::VersionsDisagree(DownloadFailure failure)
{
    m_file.Discard(false);
    m_bOneStream = true;
    if (++m_nDisagreements < kConsistentCopyAttempts) {
        DebugLog("download %s: %s; fetching it in one stream", UrlWithoutQuery(m_strUrl).c_str(),
                 failure.text.c_str());
        return kFetchAgain;
    }
    failure.text += "; no consistent copy in " + std::to_string(kConsistentCopyAttempts) + " tries";
    Fail(failure);
    return -1;
}

// Every byte is written: the completion syncs the file (and checks its
// digest) and moves it into place while this thread waits, unless a stop
// comes first.
int CHttpDownload::FinishFile()
{
    if (Stopping())
        return 0;  // the pair stays; the next start finishes it
    DownloadFailure why;
    auto placed = [this] { Post(DOWNLOAD_FINISHED, "complete"); };
    switch (m_completion.Finish(m_file.HandOver(), m_finalSync, m_stopEvent, m_signals.finishing, placed, why)) {
    case CCompletion::End::Placed:
        if (m_completion.ChecksumOverruled())
            DebugLog("download %s: two copies agree on an md5 other than the one given; the file is kept",
                     UrlWithoutQuery(m_strUrl).c_str());
        return 0;
    case CCompletion::End::Stopped:
        return 0;
    case CCompletion::End::FetchAgain:
        m_file.Discard(true);
        return kFetchAgain;
    case CCompletion::End::Failed:
        break;
    }
    if (why.cause == FailureCause::Checksum)
        m_file.Discard(true);
    Fail(why);
    return -1;
}

// Nothing is posted once a stop began: the owner has moved on, and an event
// of this start must not reach its next one. (The finisher announces a file
// it moved into place before the stop reached it: see CFileFinisher.)
void CHttpDownload::Fail(const DownloadFailure& failure)
{
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        m_failure = failure;
    }
    if (!Stopping())
        Post(DOWNLOAD_FAILED, failure.text.c_str());
}

DownloadFailure CHttpDownload::LastFailure() const
{
    std::lock_guard<std::mutex> guard(m_failureLock);
    return m_failure;
}

void CHttpDownload::Post(uint8_t state, const char* reason)
{
    m_nState = state;
    DebugLog("download %s %s -> %s (%s), %lld of %lld bytes", state == DOWNLOAD_FINISHED ? "done" : "failed",
             UrlWithoutQuery(m_strUrl).c_str(), LocalToUtf8(m_strDestPath).c_str(), reason,
             static_cast<long long>(m_nDownloaded.load()), static_cast<long long>(m_nFileSize.load()));
    PostMessageA(m_hOwnerWnd, WM_DOWNLOAD_NOTIFY, state, reinterpret_cast<LPARAM>(this));
}
