#include "net/HttpDownload.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "common/FileSystem.h"
#include "common/Md5.h"
#include "common/SteadyClock.h"
#include "common/Trace.h"
#include "common/UrlText.h"
#include "framework/PostMessage.h"
#include "net/CurlGlobal.h"
#include "net/DiskSpace.h"
#include "net/HeaderLine.h"
#include "net/InternetErrorText.h"
#include "net/SideFile.h"
#include "net/UrlHost.h"

namespace {

constexpr int kMaxRedirects = 10;

std::string Mebibytes(int64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", bytes / 1048576.0);
    return text;
}

size_t KeepValidators(char* data, size_t size, size_t count, void* user)
{
    static_cast<Validators*>(user)->TakeHeaderLine(std::string(data, size * count));
    return size * count;
}

int AbortWhenStopping(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<std::atomic<int>*>(user)->load() != 0 ? 1 : 0;
}

}  // namespace

// What the size query's callbacks share. Its answer is the file from byte 0:
// at the body's first byte the file is prepared, and when its first segment
// starts afresh the answer goes on as that segment's transfer, so no second
// request, round trip or connection is spent on it. Otherwise the body is
// dropped. The answer goes on into the next segments while more
// connections do not pay: on a fast link a file costs one request.
struct SizeQueryTransfer {
    using Clock = std::chrono::steady_clock;

    CHttpDownload& engine;
    CURL* easy;
    Validators validators;
    bool decided = false;
    bool redirect = false;
    CDownloadWorker* first = nullptr;  // segment 0's worker, taking the body
    Clock::time_point sent = Clock::now();
    Clock::time_point firstByte{};
    int64_t taken = 0;     // body bytes the first segment's worker took
    bool split = false;    // more connections pay: the other segments get theirs
    bool waiting = false;  // of those, some still wait for a connection

    static size_t OnBody(char* data, size_t size, size_t count, void* user)
    {
        auto& q = *static_cast<SizeQueryTransfer*>(user);
        if (!std::exchange(q.decided, true)) {
            q.firstByte = Clock::now();
            q.first = q.Decide();
            q.redirect = q.IsRedirect();
        }
        // A redirect's page (nginx and Apache send one) is read and dropped:
        // the transport names the target only after a whole answer, and the
        // connection stays for the next request.
        if (q.redirect)
            return size * count;
        if (!q.first || !q.first->TakeBody(data, size * count))
            return 0;
        q.taken += static_cast<int64_t>(size * count);
        if (!q.split && (q.split = q.MorePay()))
            q.waiting = true;
        if (q.waiting)
            q.waiting = q.engine.StartPendingSegments(true);
        return size * count;
    }

    double RequestSeconds() const { return std::chrono::duration<double>(firstByte - sent).count(); }
    double BodySeconds() const { return std::chrono::duration<double>(Clock::now() - firstByte).count(); }

    // The answer's own rate once it has run for half its request's wait
    // (and at least 1 ms); until then the last file's.
    double Rate() const
    {
        double seconds = BodySeconds();
        return seconds >= std::max(RequestSeconds() / 2, 0.001) ? taken / seconds : engine.m_fRate;
    }

    bool MorePay() const
    {
        return engine.m_bMayWiden && engine.MorePay(engine.m_nFileSize - taken, Rate(), RequestSeconds());
    }

    bool IsRedirect() const
    {
        long status = 0;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        return status >= 300 && status < 400;
    }

    CDownloadWorker* Decide()
    {
        long status = 0;
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (status != 200 || engine.AcceptSize(status, length, validators) != 0)
            return nullptr;
        return engine.TakeOverFirstSegment();
    }
};

CHttpDownload::~CHttpDownload()
{
    Stop();
    m_finisher.reset();  // the disk is done with the last file
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

curl_slist* CHttpDownload::RequestHeaders(const std::string& host, const char* rangeLine,
                                          const std::string& ifRange)
{
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: */*");
    headers = curl_slist_append(headers, ("Host: " + host).c_str());
    headers = curl_slist_append(headers, "Pragma: no-cache");
    headers = curl_slist_append(headers, "Cache-Control: no-cache");
    headers = curl_slist_append(headers, "Connection: keep-alive");
    if (rangeLine)
        headers = curl_slist_append(headers, rangeLine);
    // A file replaced on the server then answers 200 with the whole new
    // file, never a range of it to splice onto the old one.
    if (rangeLine && !ifRange.empty())
        headers = curl_slist_append(headers, ("If-Range: " + ifRange).c_str());
    return headers;
}

void CHttpDownload::ConfigureTransfer(CURL* easy, const std::string& url, curl_slist* headers) const
{
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(easy, CURLOPT_USERAGENT, CDownloadWorker::kAgent);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 60000L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, m_nStallSeconds);
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    // A transfer given up in a name lookup (a stop, a restart) does not
    // wait for the resolver's thread: the lookup may take as long as a
    // venue's DNS likes.
    curl_easy_setopt(easy, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    // Content hosts are http or https (certificates checked against the
    // system's store, never skipped); QUORVEL_CA_FILE adds a CA of one's own.
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    static const char* const caFile = std::getenv("QUORVEL_CA_FILE");
    if (caFile && *caFile)
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile);
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 262144L);
}

void CHttpDownload::SetUpLike(const CHttpDownload& other)
{
    if (&other == this)
        return;
    m_hOwnerWnd = other.m_hOwnerWnd;
    m_freeSpace = other.m_freeSpace;
    m_nStallSeconds = other.m_nStallSeconds;
    m_nWorkerIdleSeconds = other.m_nWorkerIdleSeconds;
    m_nFirstRetryWaitMs = other.m_nFirstRetryWaitMs;
    m_finalSync = other.m_finalSync;
    m_dataSync = other.m_dataSync;
    m_morePay = other.m_morePay;
    m_pConnections = other.m_pConnections;
}

int CHttpDownload::Start(const char* url, const char* dest, int, const char* md5)
{
    Stop();
    m_stopEvent.ResetEvent();
    m_nStopFlag = 0;
    if (!AcceptsUrl(url) || !dest)
        return 0;
    // Content URLs may carry spaces or raw UTF-8; the transport refuses them.
    m_strUrl = EscapeTransportBytes(url, true);
    m_strStartUrl = m_strUrl;
    m_strHost = HostOf(m_strUrl);
    m_strDestPath = dest;
    m_strTempPath = m_strDestPath + ".tmp!";
    m_strInfoPath = m_strDestPath + ".info";
    m_strMd5 = md5 && IsMd5Hex(md5) ? md5 : "";
    m_strFirstDigest.clear();
    m_bChecksumOverruled = false;
    m_nDownloaded = 0;
    m_nBuffered = 0;
    m_nFileSize = 0;
    m_nState = DOWNLOAD_RUNNING;
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        m_failure = DownloadFailure{};
    }
    m_bFinishing = false;
    m_bRangeIgnored = false;
    m_bWantsConnections = false;
    DebugLog("download start %s -> %s", m_strUrl.c_str(), dest);
    m_thread = std::thread(&CHttpDownload::DownloadProc, this);
    return 0;
}

void CHttpDownload::RequestStop()
{
    m_nStopFlag = 1;
    m_stopEvent.SetEvent();
}

void CHttpDownload::Stop()
{
    RequestStop();
    if (m_thread.joinable())
        m_thread.join();
    if (m_finisher)
        m_finisher->Cancel();
    {
        std::lock_guard<std::mutex> guard(m_segmentLock);
        for (auto& worker : m_workers)
            worker.reset();  // halts it first
        m_nActiveWorkers = 0;
        m_bWantsConnections = false;
    }
    std::lock_guard<std::mutex> guard(m_fileLock);
    if (m_fd != fsys::kNoFile) {
        fsys::Close(m_fd);
        m_fd = fsys::kNoFile;
    }
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
    if (m_finisher) {
        if (!AwaitFinisher())
            return;
        m_finisher.reset();
        m_bFinishing = false;
    }
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
    m_nState = DOWNLOAD_RUNNING;
    m_bPrepared = false;
    m_bWorkersStarted = false;
    ResetWorkers();
    if (Stopping())
        return 0;
    int failures = 0;
    while (failures < kSizeQueryAttempts && QueryFileSize() != 0) {
        ++failures;
        Trace("%s CHttpDownload::获取文件大小失败", m_strUrl.c_str());
        if (Stopping())
            return 0;
    }
    if (failures == kSizeQueryAttempts) {
        Fail(m_queryFailure);
        return -1;
    }
    if ((m_bPrepared ? m_nPrepared : PrepareFile()) != 0) {
        Fail(m_prepareFailure);
        return -1;
    }
    if (Stopping())
        return 0;
    if (m_bWorkersStarted)
        return RunSegments();
    m_nActiveWorkers = 0;
    return m_nDownloaded < m_nFileSize ? RunSegments() : FinishFile();
}

// A handle of the pool for the size query; it waits while the other files
// in flight hold every connection. Null on a stop.
CURL* CHttpDownload::AwaitConnection()
{
    CURL* easy = nullptr;
    while (!(easy = Connections().Take())) {
        m_bAwaitingConnection = true;
        if (WaitForSingleObject(m_stopEvent, 20) == WAIT_OBJECT_0)
            break;
    }
    m_bAwaitingConnection = false;
    return easy;
}

bool CHttpDownload::MorePay(int64_t remaining, double bytesPerSecond, double requestSeconds) const
{
    return m_morePay ? m_morePay(remaining, bytesPerSecond, requestSeconds)
                     : MoreConnectionsPay(remaining, bytesPerSecond, requestSeconds);
}

int CHttpDownload::QueryFileSize()
{
    EnsureCurlGlobal();
    for (int redirects = 0; redirects <= kMaxRedirects; ++redirects) {
        CURL* easy = AwaitConnection();
        if (!easy)
            return -1;
        curl_slist* headers = RequestHeaders(m_strHost, nullptr);
        ConfigureTransfer(easy, m_strUrl, headers);
        SizeQueryTransfer query{*this, easy, Validators{}};
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, SizeQueryTransfer::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &query);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, KeepValidators);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &query.validators);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, AbortWhenStopping);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &m_nStopFlag);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        CURLcode code = curl_easy_perform(easy);
        if (query.first)
            EndTakeOver(query, code);
        long status = 0;
        curl_off_t length = -1;
        char* location = nullptr;
        long osError = 0;
        curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
        std::string target = location ? location : "";
        Connections().Give(easy, code == CURLE_OK);
        curl_slist_free_all(headers);

        if (status == 0) {
            Trace("CHttpDownload::AsyncInternetCallback dwError=%ld  %s", CurlToInternetError(code),
                  GetInternetErrorText(CurlToInternetError(code)));
            m_queryFailure = TransportFailure(code, osError, m_strHost);
            return code == CURLE_ABORTED_BY_CALLBACK ? -1 : -2;
        }
        if (status >= 300 && status < 400 && !target.empty()) {
            // The ranges go to the redirect target, with its own Host.
            m_strUrl = target;
            m_strHost = HostOf(m_strUrl);
            continue;
        }
        return AcceptSize(status, length, query.validators);
    }
    m_queryFailure = {FailureCause::Redirects, 0, "too many redirects"};
    return -3;
}

int CHttpDownload::AcceptSize(long status, int64_t length, const Validators& validators)
{
    if (status != 200) {
        m_queryFailure = {FailureCause::HttpStatus, status, "HTTP " + std::to_string(status)};
        return -3;
    }
    if (length < 0 || length > kMaxFileSize) {
        m_queryFailure = {FailureCause::BadAnswer, 0,
                          length < 0 ? "no Content-Length in the answer" : "Content-Length too large"};
        return -3;
    }
    m_nFileSize = length;
    m_validators = validators;
    m_nIdentity = DownloadIdentity(m_strStartUrl, m_validators);
    return 0;
}

// At the first byte of the size query's body: the file is prepared, and
// when its first segment starts at byte 0 with nothing written, that answer
// becomes the segment's transfer. Segments it cannot reach (a resume's)
// begin at once; the others when more connections pay.
CDownloadWorker* CHttpDownload::TakeOverFirstSegment()
{
    m_bPrepared = true;
    m_nPrepared = PrepareFile();
    if (m_nPrepared != 0 || Stopping() || m_nDownloaded >= m_nFileSize)
        return nullptr;
    CDownloadWorker* worker = nullptr;
    {
        std::scoped_lock guard(m_fileLock, m_segmentLock);
        SegmentInfo& s = m_segments[0];
        if (s.done != 0)
            return nullptr;
        s.state = SEGMENT_TAKEN;
        m_nChainAt = 0;
        m_nActiveWorkers = 1;
        m_workers[0] = std::make_unique<CDownloadWorker>();
        worker = m_workers[0].get();
        worker->SetOwner(0, this);
        worker->Setup(m_strUrl, m_strHost, s.start, s.done, s.end, m_nFileSize, m_validators);
        m_slotRestarts[0] = SlotRestarts{0, 0, 0};
        worker->TakeOver();
    }
    m_bWorkersStarted = true;
    StartPendingSegments(false);
    return worker;
}

// The size query's answer ended: its segment's attempt ends with it, and
// its rate is what the next file is judged by.
void CHttpDownload::EndTakeOver(SizeQueryTransfer& query, CURLcode code)
{
    {
        std::lock_guard<std::mutex> guard(m_segmentLock);
        m_nChainAt = -1;
    }
    double seconds = query.BodySeconds();
    if (seconds >= 0.001 && query.taken > 0)
        m_fRate = query.taken / seconds;
    query.first->EndTakeOver(code == CURLE_OK);
}

int CHttpDownload::TakeNextSegment(int index, int64_t& start, int64_t& end)
{
    std::scoped_lock guard(m_fileLock, m_segmentLock);
    size_t next = static_cast<size_t>(index) + 1;
    if (!ChainReaches(next))
        return -1;
    m_segments[next].state = SEGMENT_TAKEN;
    m_nChainAt = static_cast<int>(next);
    m_slotRestarts[0].doneAt = 0;
    start = m_segments[next].start;
    end = m_segments[next].end;
    return static_cast<int>(next);
}

// With the segment lock held: the size query's answer, in its stream, can
// still reach segment k: every segment up to it is free, untouched and
// follows on.
bool CHttpDownload::ChainReaches(size_t k) const
{
    if (m_nChainAt < 0 || k >= m_segments.size() || k <= static_cast<size_t>(m_nChainAt))
        return false;
    for (size_t j = m_nChainAt + 1; j <= k; ++j) {
        const SegmentInfo& s = m_segments[j];
        if (s.state != SEGMENT_IDLE || s.done != 0 || s.start != m_segments[j - 1].end + 1)
            return false;
    }
    return true;
}

int CHttpDownload::PrepareFile()
{
    int64_t size = m_nFileSize;
    // A destination directory that is gone or closed is named as such, not
    // as a disk without room.
    std::string directory = m_strTempPath.substr(0, m_strTempPath.rfind('/') + 1);
    if (!fsys::CanWriteIn(directory)) {
        m_prepareFailure = {FailureCause::FileAccess, 0, "cannot write " + m_strTempPath + ": " + std::strerror(errno)};
        return -1;
    }
    fsys::Info st = fsys::Stat(m_strTempPath, false);
    bool existed = st.exists;
    // What the temporary file of a resumed download already holds is room
    // the file has, not room it still needs.
    int64_t held = st.regular ? std::min<int64_t>(st.allocated, size) : 0;
    int64_t freeBytes = m_freeSpace ? m_freeSpace(m_strTempPath) : GetFreeDiskBytes(m_strTempPath);
    if (size - held + kFreeSpaceReserve > freeBytes) {
        m_prepareFailure = {FailureCause::DiskSpace, 0,
                            "not enough space: need " + Mebibytes(size - held + kFreeSpaceReserve) +
                                " (the file and 100 MiB), have " + Mebibytes(freeBytes)};
        return -2;
    }
    std::lock_guard<std::mutex> guard(m_fileLock);
    if (m_fd != fsys::kNoFile)
        fsys::Close(m_fd);  // left open by an earlier round of this start
    // A side file without its temporary file (killed between the rename and
    // its removal, or the operator deleted the .tmp!) must never come to
    // describe the new file, even after a crash right below.
    if (!existed)
        fsys::Remove(m_strInfoPath);
    m_fd = fsys::Open(m_strTempPath, fsys::Mode::ReadWrite);
    if (m_fd == fsys::kNoFile) {
        m_prepareFailure = {FailureCause::FileAccess, 0, "cannot write " + m_strTempPath + ": " + std::strerror(errno)};
        return -1;
    }
    // Real allocation, so a full disk shows now rather than mid-download.
    // A larger file is kept as it is; one made just now that cannot be
    // allocated goes again, rather than stay as an empty husk.
    int allocated = (!existed || st.size < size) && size > 0 ? fsys::Allocate(m_fd, size) : 0;
    if (allocated != 0) {
        m_prepareFailure = {allocated == ENOSPC ? FailureCause::DiskSpace : FailureCause::FileAccess, 0,
                            "cannot allocate " + m_strTempPath + ": " + std::strerror(allocated)};
        fsys::Close(m_fd);
        m_fd = fsys::kNoFile;
        if (!existed)
            fsys::Remove(m_strTempPath);
        return -1;
    }
    // A side file beside a temporary file made just now claims bytes that
    // are not on disk: it is never loaded then.
    InitSegments(existed);
    m_nUnsyncedBytes = 0;
    m_tLastSync = SteadySeconds();
    m_bSyncFailed = false;
    m_strChangedTo.clear();
    m_nRangeStatus = 0;
    return 0;
}

void CHttpDownload::InitSegments(bool loadAllowed)
{
    std::lock_guard<std::mutex> guard(m_segmentLock);
    if (!loadAllowed || !LoadSideFile(m_strInfoPath, m_nFileSize, m_nIdentity, m_segments)) {
        m_segments = PlanSegments(m_nFileSize);
        SaveInfoFile();
    }
    int64_t downloaded = 0;
    for (const SegmentInfo& s : m_segments)
        downloaded += s.done;
    m_nDownloaded = downloaded;
}

// Unfinished segments without a transfer get one, the last first, while
// the pool has a connection; unless `all`, those the size query's answer
// can still reach are left to it. True when some wait for a connection.
bool CHttpDownload::StartPendingSegments(bool all)
{
    // Segments are marked under the file lock too: workers read the table
    // while they write.
    std::vector<std::pair<size_t, CURL*>> begun;
    bool waiting = false;
    {
        std::scoped_lock guard(m_fileLock, m_segmentLock);
        for (size_t k = m_segments.size(); k-- > 0;) {
            SegmentInfo& s = m_segments[k];
            if (s.Finished() || s.state == SEGMENT_TAKEN || (!all && ChainReaches(k)))
                continue;
            CURL* easy = Connections().Take();
            if (!easy) {
                waiting = true;
                break;
            }
            s.state = SEGMENT_TAKEN;
            begun.emplace_back(k, easy);
        }
    }
    m_bWantsConnections = waiting && all;
    std::lock_guard<std::mutex> guard(m_segmentLock);
    for (auto [k, easy] : begun)
        BeginWorker(k, k, easy);
    return waiting;
}

// With the segment lock held: worker slot `slot` takes on segment `segment`
// from where it got.
void CHttpDownload::BeginWorker(size_t slot, size_t segment, CURL* easy)
{
    const SegmentInfo& s = m_segments[segment];
    auto& worker = m_workers[slot];
    if (!worker)
        worker = std::make_unique<CDownloadWorker>();
    worker->Halt();
    worker->SetOwner(static_cast<int>(segment), this);
    worker->Setup(m_strUrl, m_strHost, s.start, s.done, s.end, m_nFileSize, m_validators);
    m_slotRestarts[slot] = SlotRestarts{0, 0, s.done};
    ++m_nActiveWorkers;
    if (!worker->Begin(easy))
        --m_nActiveWorkers;
}

// Workers of an earlier round or plan (a replan leaves fewer segments) go:
// the watchdog must never meet a segment index of another plan. Their
// attempts have all ended.
void CHttpDownload::ResetWorkers()
{
    std::lock_guard<std::mutex> guard(m_segmentLock);
    for (auto& worker : m_workers)
        worker.reset();
    m_nChainAt = -1;
}

// Restarts a worker that has been idle too long; the count stays exact,
// since the halted attempt reports its end before the new one begins.
void CHttpDownload::Watchdog()
{
    std::lock_guard<std::mutex> guard(m_segmentLock);
    int64_t now = SteadySeconds();
    for (auto& worker : m_workers) {
        if (!worker || now - worker->LastActive() <= m_nWorkerIdleSeconds)
            continue;
        uint8_t state = worker->State();
        if (state != CDownloadWorker::WORKER_RUNNING && state != CDownloadWorker::WORKER_FAILED)
            continue;
        worker->Halt();
        CURL* easy = Connections().Take();
        if (!easy)
            continue;  // the next pass tries again
        const SegmentInfo& s = m_segments[worker->Index()];
        worker->Setup(m_strUrl, m_strHost, s.start, worker->Done(), s.end, m_nFileSize, m_validators);
        ++m_nActiveWorkers;
        if (!worker->Begin(easy))
            --m_nActiveWorkers;
    }
}

// A worker whose transfer broke off (a dropped connection, a stalled
// transfer) is asked again after the retry wait, doubling, while the others
// run: one drop must not cost the file a whole new round.
void CHttpDownload::RestartBrokenSegments()
{
    std::lock_guard<std::mutex> guard(m_segmentLock);
    int64_t now = SteadyMilliseconds();
    for (int slot = 0; slot < kMaxSegments; ++slot) {
        CDownloadWorker* worker = m_workers[slot].get();
        if (!worker || worker->State() != CDownloadWorker::WORKER_FAILED || !worker->BrokeOff())
            continue;
        SlotRestarts& r = m_slotRestarts[slot];
        if (r.dueMs == 0) {
            if (worker->Done() > r.doneAt)
                r.count = 0;  // it got somewhere: its count starts again
            if (r.count >= kSegmentRestarts)
                continue;  // left to the round's end, which fails it
            r.dueMs = now + (int64_t(m_nFirstRetryWaitMs) << r.count);
        }
        if (now < r.dueMs)
            continue;
        worker->Halt();
        CURL* easy = Connections().Take();
        if (!easy)
            continue;  // due still: the next pass tries again
        const SegmentInfo& s = m_segments[worker->Index()];
        worker->Setup(m_strUrl, m_strHost, s.start, worker->Done(), s.end, m_nFileSize, m_validators);
        r = SlotRestarts{r.count + 1, 0, worker->Done()};
        ++m_nActiveWorkers;
        if (!worker->Begin(easy))
            --m_nActiveWorkers;
    }
}

// True while a broken-off worker waits for its restart.
bool CHttpDownload::RestartPending()
{
    std::lock_guard<std::mutex> guard(m_segmentLock);
    for (const SlotRestarts& r : m_slotRestarts) {
        if (r.dueMs != 0)
            return true;
    }
    return false;
}

int CHttpDownload::RunSegments()
{
    do {
        CEvent* events[] = {&m_stopEvent, &m_workerEnded};
        for (;;) {
            bool waiting = StartPendingSegments(true);
            RestartBrokenSegments();
            bool pending = waiting || RestartPending();
            if (m_nActiveWorkers == 0 && !pending)
                break;
            if (WaitForMultipleObjects(2, events, waiting ? 20 : pending ? 100 : 1000) == WAIT_OBJECT_0)
                return 0;
            m_workerEnded.ResetEvent();
            Watchdog();
        }
        if (Stopping())
            return 0;
    } while (ReplanAfterIgnoredRange());
    m_bWantsConnections = false;
    return EndRound();
}

// Every worker has ended: the file is finished, or the round failed, and
// the failure says why.
int CHttpDownload::EndRound()
{
    DownloadFailure failure{FailureCause::Transfer, 0, "the transfers ended with bytes missing"};
    {
        std::lock_guard<std::mutex> guard(m_fileLock);
        if (m_bSyncFailed)
            failure = {FailureCause::FileAccess, 0, m_strSyncFailure};
        else if (!m_strChangedTo.empty())
            failure = {FailureCause::Changed, 0, "the file changed on the server during the download (" +
                                                     m_validators.Describe() + ", then " + m_strChangedTo +
                                                     "); starting over"};
        else if (AllSegmentsFinished())
            failure.cause = FailureCause::None;
        else if (m_nRangeStatus != 0)
            failure = {FailureCause::HttpStatus, m_nRangeStatus,
                       "HTTP " + std::to_string(m_nRangeStatus) + " to a range request"};
    }
    if (failure.cause == FailureCause::None)
        return FinishFile();
    // What was written belongs to another version: the next round plans
    // the file anew, never splicing the two.
    if (failure.cause == FailureCause::Changed)
        Discard(false);
    Fail(failure);
    return -1;
}

// The file starts over from nothing: the side file goes, so the next round
// plans anew and overwrites the temporary file (or makes it anew).
void CHttpDownload::Discard(bool temporaryToo)
{
    std::lock_guard<std::mutex> guard(m_fileLock);
    if (temporaryToo)
        fsys::Remove(m_strTempPath);
    fsys::Remove(m_strInfoPath);
    m_nDownloaded = 0;
}

// A server that answers ranges with the whole file can only be read from
// byte 0: the file starts over as one segment (nothing already written is
// kept, since only a request from byte 0 can be answered).
bool CHttpDownload::ReplanAfterIgnoredRange()
{
    {
        std::scoped_lock guard(m_fileLock, m_segmentLock);
        if (!m_bRangeIgnored || AllSegmentsFinished())
            return false;
        m_bRangeIgnored = false;
        if (m_segments.size() == 1 && m_segments[0].done == 0)
            return false;
        m_segments.assign(1, SegmentInfo{0, 0, m_nFileSize - 1, SEGMENT_IDLE});
        m_nDownloaded = 0;
        SaveInfoFile();
    }
    ResetWorkers();
    return true;
}

bool CHttpDownload::WriteBlock(int index, int64_t start, int64_t& done, const char* bytes, size_t length)
{
    std::lock_guard<std::mutex> guard(m_fileLock);
    if (m_fd == fsys::kNoFile || m_bSyncFailed || !fsys::WriteAt(m_fd, bytes, length, start + static_cast<int64_t>(done)))
        return false;
    done += static_cast<int64_t>(length);
    m_segments[index].done = done;
    m_nDownloaded += static_cast<int64_t>(length);
    m_nUnsyncedBytes += static_cast<int64_t>(length);
    if (m_nUnsyncedBytes < kSyncBytes && SteadySeconds() - m_tLastSync < kSyncSeconds)
        return true;
    return SyncProgress();
}

// With the file lock held. The side file may count only bytes that are on
// the disk: after a power cut it must never call zeros done. So the data is
// synced first, and only then is the side file replaced, at most once a
// second or every kSyncBytes, not per block.
bool CHttpDownload::SyncProgress()
{
    // A side file that cannot be replaced (a disk filled up meanwhile)
    // fails the attempt: the previous one stays and still tells the truth.
    // After a failed sync the written bytes may never reach the disk: the
    // side file keeps what the last good sync covered, nothing more is
    // written or counted this round, and the next round resumes from it.
    if (m_fd == fsys::kNoFile || m_bSyncFailed)
        return false;
    if ((m_dataSync ? m_dataSync(m_fd) : fsys::SyncData(m_fd)) != 0) {
        m_strSyncFailure = "cannot sync " + m_strTempPath + ": " + std::strerror(errno);
        m_bSyncFailed = true;
        return false;
    }
    if (!SaveInfoFile())
        return false;
    m_nUnsyncedBytes = 0;
    m_tLastSync = SteadySeconds();
    return true;
}

void CHttpDownload::OnWorkerDone(CDownloadWorker* worker, uint8_t state)
{
    std::lock_guard<std::mutex> guard(m_fileLock);
    if (worker->RangeIgnored())
        m_bRangeIgnored = true;
    if (worker->Changed())
        m_strChangedTo = worker->AnswerValidators().Describe();
    if (worker->RefusedStatus() != 0)
        m_nRangeStatus = worker->RefusedStatus();
    if (state == CDownloadWorker::WORKER_FAILED)
        m_nState = DOWNLOAD_FAILED;
    // An attempt that ends (stopped, failed or done) leaves its bytes
    // counted; after the last byte of the file the final sync does that.
    if (--m_nActiveWorkers == 0 && AllSegmentsFinished() && !m_bSyncFailed)
        m_bFinishing = true;
    else if (m_nUnsyncedBytes > 0)
        SyncProgress();
    m_workerEnded.SetEvent();
}

// With the file lock held.
bool CHttpDownload::AllSegmentsFinished() const
{
    for (const SegmentInfo& s : m_segments) {
        if (!s.Finished())
            return false;
    }
    return true;
}

// Every byte is written: the finisher syncs the file (and checks its
// digest) and moves it into place while this thread waits, unless a stop
// comes first.
int CHttpDownload::FinishFile()
{
    if (Stopping())
        return 0;  // the pair stays; the next start finishes it
    CFileFinisher::Files files;
    {
        std::scoped_lock guard(m_fileLock, m_segmentLock);
        files.fd = m_fd;
        m_fd = fsys::kNoFile;
        files.segments = m_segments;
    }
    if (files.fd < 0) {
        Fail({FailureCause::FileAccess, 0, m_strTempPath + " is not open"});
        return -1;
    }
    files.size = m_nFileSize;
    files.tempPath = m_strTempPath;
    files.destPath = m_strDestPath;
    files.infoPath = m_strInfoPath;
    files.identity = m_nIdentity;
    files.md5 = m_strMd5;
    files.alsoAccepted = m_strFirstDigest;
    m_finisher = std::make_unique<CFileFinisher>(
        std::move(files), m_finalSync, [this, first = m_strFirstDigest](const std::string& digest) {
            m_bChecksumOverruled = !first.empty() && digest == first;
            m_nState = DOWNLOAD_FINISHED;
            Post("complete");
        });
    if (!AwaitFinisher())
        return 0;
    bool placed = m_finisher->Placed(), mismatched = m_finisher->Mismatched();
    std::string failure = m_finisher->Failure(), digest = m_finisher->Digest();
    m_finisher.reset();
    if (placed) {
        if (m_bChecksumOverruled)
            DebugLog("download %s: two copies have md5 %s, not the %s given: the given md5 describes something "
                     "else; the file is kept", m_strUrl.c_str(), digest.c_str(), m_strMd5.c_str());
        return 0;  // still "finishing" until the next start: nothing to watch
    }
    m_bFinishing = false;
    if (!mismatched) {
        Fail({FailureCause::FileAccess, 0, failure});
        return -1;
    }
    // The bytes differ from the digest the caller gave: the first time,
    // the file is fetched again from nothing; a second copy unlike the
    // first means the transfers are not to be trusted.
    Discard(true);
    if (m_strFirstDigest.empty()) {
        DebugLog("download %s: %s; fetching it again", m_strUrl.c_str(), failure.c_str());
        m_strFirstDigest = digest;
        return kFetchAgain;
    }
    Fail({FailureCause::Checksum, 0, failure + " (and " + m_strFirstDigest + " before)"});
    return -1;
}

// False when a stop came first; the finisher then goes on alone.
bool CHttpDownload::AwaitFinisher()
{
    m_bFinishing = true;
    CEvent* events[] = {&m_stopEvent, &m_finisher->Ended()};
    return WaitForMultipleObjects(2, events, INFINITE) != WAIT_OBJECT_0;
}

bool CHttpDownload::SaveInfoFile()
{
    std::lock_guard<std::mutex> guard(m_infoLock);
    return SaveSideFile(m_strInfoPath, m_segments, m_nIdentity);
}

// Nothing is posted once a stop began: the owner has moved on, and an event
// of this start must not reach its next one. (The finisher announces a file
// it moved into place before the stop reached it: see CFileFinisher.)
void CHttpDownload::NotifyOwner(const char* reason)
{
    if (!Stopping())
        Post(reason);
}

void CHttpDownload::Fail(const DownloadFailure& failure)
{
    {
        std::lock_guard<std::mutex> guard(m_failureLock);
        m_failure = failure;
    }
    m_nState = DOWNLOAD_FAILED;
    NotifyOwner(failure.text.c_str());
}

DownloadFailure CHttpDownload::LastFailure() const
{
    std::lock_guard<std::mutex> guard(m_failureLock);
    return m_failure;
}

void CHttpDownload::Post(const char* reason)
{
    DebugLog("download %s %s -> %s (%s), %lld of %lld bytes", m_nState == DOWNLOAD_FINISHED ? "done" : "failed",
             m_strUrl.c_str(), m_strDestPath.c_str(), reason, static_cast<long long>(m_nDownloaded.load()),
             static_cast<long long>(m_nFileSize.load()));
    PostMessageA(m_hOwnerWnd, WM_DOWNLOAD_NOTIFY, m_nState, reinterpret_cast<LPARAM>(this));
}
