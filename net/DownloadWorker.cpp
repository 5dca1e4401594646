#include "net/DownloadWorker.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "common/SteadyClock.h"
#include "common/Trace.h"
#include "net/ContentRange.h"

namespace {

bool StartsWithNoCase(const char* text, size_t length, const char* prefix)
{
    size_t n = std::strlen(prefix);
    return length >= n && strncasecmp(text, prefix, n) == 0;
}

}  // namespace

// What one attempt's transfer callbacks share.
struct WorkerTransfer {
    CDownloadWorker& worker;
    CURL* easy;
    std::string contentRange;
    bool checked = false;

    // Runs once, at the first byte of the body or at its end.
    bool Check()
    {
        if (checked)
            return worker.m_bAccepted;
        checked = true;
        long status = 0;
        curl_off_t length = -1;
        curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        worker.m_bAccepted = worker.AcceptAnswer(status, contentRange, length);
        if (worker.m_bAccepted)
            DebugText("URL请求成功开始接收数据!!!!!!!!!\r\n");
        return worker.m_bAccepted;
    }

    static size_t OnHeader(char* data, size_t size, size_t count, void* user)
    {
        auto& t = *static_cast<WorkerTransfer*>(user);
        size_t length = size * count;
        if (StartsWithNoCase(data, length, "HTTP/"))
            t.contentRange.clear();  // a new answer (after an interim one)
        else if (StartsWithNoCase(data, length, "Content-Range:"))
            t.contentRange.assign(data + 14, length - 14);
        t.worker.m_answer.TakeHeaderLine(std::string(data, length));
        return length;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user)
    {
        auto& t = *static_cast<WorkerTransfer*>(user);
        size_t length = size * count;
        if (!t.Check() || !t.worker.Take(data, length))
            return 0;
        return length;
    }

};

CDownloadWorker::~CDownloadWorker()
{
    Halt();
}

void CDownloadWorker::SetOwner(int index, WorkerHost* owner)
{
    m_nIndex = index;
    m_pOwner = owner;
}

void CDownloadWorker::Setup(const std::string& url, int64_t start, int64_t done, int64_t end,
                            int64_t fileSize, const Validators& reference)
{
    m_reference = reference;
    m_strUrl = url;
    m_nStart = start;
    m_nDone = done;
    m_nEnd = end;
    m_nFileSize = fileSize;
}

bool CDownloadWorker::Begin(CURL* easy)
{
    m_stop.Reset();
    m_nState = WORKER_RUNNING;
    m_pEasy = easy;
    Touch();
    try {
        m_thread = std::thread(&CDownloadWorker::Run, this);
    } catch (const std::system_error&) {
        m_nState = WORKER_FAILED;
        m_pOwner->Pool().Give(std::exchange(m_pEasy, nullptr), true);
        return false;
    }
    return true;
}

void CDownloadWorker::Halt()
{
    RequestHalt();
    if (m_thread.joinable())
        m_thread.join();
}

void CDownloadWorker::Touch()
{
    m_tLastActive = SteadySeconds();
}

bool CDownloadWorker::AcceptAnswer(long status, const std::string& contentRange, int64_t contentLength)
{
    int64_t from = m_nStart + m_nDone;
    m_nWanted = m_nEnd - from + 1;
    if (status != 200 && status != 206) {
        m_nRefusedStatus = status;
        return false;
    }
    // Bytes of another version must never be spliced onto this one's, even
    // from a server that ignores If-Range.
    if (m_reference.DiffersFrom(m_answer)) {
        m_bChanged = true;
        return false;
    }
    if (status == 206) {
        // Every number must be the one asked for: bytes of another range or
        // another version of the file must never reach the file.
        ContentRange range;
        return ParseContentRange(contentRange, range) && range.start == from &&
               range.end == m_nEnd && range.total == m_nFileSize &&
               (contentLength < 0 || contentLength == m_nWanted);
    }
    // The whole file: usable only from byte 0, and then only this
    // segment's bytes of it.
    if (from != 0) {
        m_bRangeIgnored = true;
        return false;
    }
    return contentLength < 0 || contentLength == m_nFileSize;
}

bool CDownloadWorker::Take(const char* data, size_t size)
{
    if (m_stop.Stopped())
        return false;
    Touch();
    while (size > 0) {
        // A whole-file answer goes on past this segment: stop at its end,
        // unless the next segment is this answer's too.
        if (m_nReceived == m_nWanted && !MoveOn())
            return false;
        size_t use = static_cast<size_t>(std::min<int64_t>(size, m_nWanted - m_nReceived));
        for (size_t taken = 0; taken < use;) {
            size_t piece = std::min(kBlockSize - m_block.size(), use - taken);
            m_block.insert(m_block.end(), data + taken, data + taken + piece);
            m_pOwner->OnBuffered(static_cast<int64_t>(piece));
            taken += piece;
            if (m_block.size() == kBlockSize && !Flush())
                return false;
        }
        m_nReceived += use;
        data += use;
        size -= use;
    }
    return true;
}

bool CDownloadWorker::MoveOn()
{
    if (!m_bTakingOver || !Flush())
        return false;
    int next = m_pOwner->TakeNext(m_nIndex, m_nStart, m_nEnd);
    if (next < 0)
        return false;
    m_nIndex = next;
    m_nDone = 0;
    m_nReceived = 0;
    m_nWanted = m_nEnd - m_nStart + 1;
    return true;
}

bool CDownloadWorker::Flush()
{
    if (m_block.empty())
        return true;
    // Off the buffered count first: the bytes never count twice.
    m_pOwner->OnBuffered(-static_cast<int64_t>(m_block.size()));
    bool written = m_pOwner->Write(static_cast<size_t>(m_nIndex), m_nDone, m_block.data(), m_block.size());
    m_block.clear();
    m_bWriteFailed = m_bWriteFailed || !written;
    return written;
}

// Data received before a failure is written first, so done counts it.
uint8_t CDownloadWorker::Finish(bool transferOk)
{
    Flush();
    bool complete = m_bAccepted && !m_bWriteFailed && m_nReceived >= m_nWanted;
    bool halted = m_stop.Stopped();
    m_bBrokeOff = m_bAccepted && !m_bWriteFailed && !complete && !halted;
    if (!complete)
        DebugText(halted ? "接收数据未完，用户退出" : transferOk ? "接收数据未完" : "接收数据未完，网络出错");
    return complete ? WORKER_FINISHED : WORKER_FAILED;
}

void CDownloadWorker::ResetAttempt()
{
    m_block.clear();
    m_block.reserve(kBlockSize);
    m_nReceived = 0;
    m_nWanted = m_nEnd - (m_nStart + m_nDone) + 1;
    m_bAccepted = false;
    m_bWriteFailed = false;
    m_bTakingOver = false;
    m_bRangeIgnored = false;
    m_bChanged = false;
    m_bBrokeOff = false;
    m_nRefusedStatus = 0;
    m_answer = Validators{};
}

void CDownloadWorker::Report(uint8_t state)
{
    m_nState = state;
    m_pOwner->OnWorkerDone(this, state);
}

void CDownloadWorker::TakeOver()
{
    m_stop.Reset();
    m_nState = WORKER_RUNNING;
    Touch();
    ResetAttempt();
    m_bAccepted = AcceptAnswer(200, std::string(), m_nFileSize);
    m_bTakingOver = true;
}

void CDownloadWorker::EndTakeOver(bool transferOk)
{
    uint8_t state = Finish(transferOk);
    m_bTakingOver = false;
    Report(state);
}

void CDownloadWorker::Run()
{
    ResetAttempt();
    CURL* easy = std::exchange(m_pEasy, nullptr);
    CURLcode code = CURLE_FAILED_INIT;
    {
        char range[80];
        std::snprintf(range, sizeof range, "Range:bytes=%" PRId64 "-%" PRId64, m_nStart + m_nDone, m_nEnd);
        curl_slist* headers = RequestPolicy::Headers(range, m_reference.ForIfRange());
        WorkerTransfer transfer{*this, easy, std::string(), false};
        m_pOwner->Policy().Configure(easy, m_strUrl, headers);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, WorkerTransfer::OnHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, WorkerTransfer::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
        code = m_pOwner->Pool().Perform(easy, m_strUrl, m_stop);
        if (code == CURLE_OK)
            transfer.Check();  // an answer without a body is judged too
        curl_slist_free_all(headers);
    }
    uint8_t state = Finish(code == CURLE_OK);
    m_pOwner->Pool().Give(easy, code == CURLE_OK);
    Report(state);
}
