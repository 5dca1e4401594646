#include "net/DownloadRound.h"

#include "common/Trace.h"
#include "net/InternetErrorText.h"
#include "net/UrlHost.h"

CDownloadRound::Result CDownloadRound::Run()
{
    DownloadFailure why;
    for (int failures = 0; !QuerySize(why);) {
        if (Stopping())
            return {};
        Trace("%s CHttpDownload::获取文件大小失败", m_c.url.c_str());
        if (++failures == kSizeQueryAttempts)
            return Failed(why);
    }
    if (!m_bPrepared)
        m_nPrepared = Prepare();
    if (m_nPrepared != 0)
        return Failed(m_prepareFailure);
    if (Stopping())
        return {};
    if (!m_scheduler)
        m_scheduler.emplace(CSegmentScheduler::Setup{m_c.url, m_c.fileSize, m_validators}, m_c.file, m_c.pool,
                            m_c.policy, m_c.settings, m_c.signals, m_c.stop);
    if (!m_scheduler->Run())
        return {};
    return EndSegments();
}

bool CDownloadRound::QuerySize(DownloadFailure& why)
{
    CURL* easy = AwaitConnection();
    if (!easy)
        return false;
    CSizeProbe probe(*this, m_c.pool, m_c.policy, m_c.queryStop, m_c.rate);
    CSizeProbe::Answer answer = probe.Ask(easy, m_c.url);
    m_c.pool.Give(easy, answer.code == CURLE_OK);
    if (answer.code == CURLE_TOO_MANY_REDIRECTS) {
        why = {FailureCause::Redirects, 0, "too many redirects"};
        return false;
    }
    if (answer.status == 0) {
        long error = CurlToInternetError(answer.code);
        Trace("CHttpDownload::AsyncInternetCallback dwError=%ld  %s", error, GetInternetErrorText(error));
        why = TransportFailure(answer.code, answer.osError, HostOf(m_c.url), answer.detail);
        if (why.cause == FailureCause::Tls)
            DebugLog("TLS with %s failed: %s", HostOf(m_c.url).c_str(), answer.detail.c_str());
        return false;
    }
    return AcceptSize(answer.status, answer.length, answer.validators, why);
}

// A handle of the pool for the size query; it waits while the other files
// in flight hold every connection. Null on a stop.
CURL* CDownloadRound::AwaitConnection()
{
    CURL* easy = nullptr;
    while (!(easy = m_c.pool.Take(m_c.url))) {
        m_c.signals.awaitingConnection = true;
        if (WaitForSingleObject(m_c.stop, 20) == WAIT_OBJECT_0)
            break;
    }
    m_c.signals.awaitingConnection = false;
    return easy;
}

bool CDownloadRound::AcceptSize(long status, int64_t length, const Validators& validators, DownloadFailure& why)
{
    if (status != 200) {
        why = {FailureCause::HttpStatus, status, "HTTP " + std::to_string(status)};
        return false;
    }
    if (length < 0 || length > kMaxFileSize) {
        why = {FailureCause::BadAnswer, 0,
               length < 0 ? "no Content-Length in the answer" : "Content-Length too large"};
        return false;
    }
    m_c.fileSize = length;
    m_validators = validators;
    m_nIdentity = DownloadIdentity(m_c.url, m_validators);
    return true;
}

int CDownloadRound::Prepare()
{
    return m_c.file.Prepare(m_c.fileSize, m_nIdentity, m_c.oneStream, m_c.settings.m_freeSpace,
                            m_c.settings.m_dataSync, m_prepareFailure);
}

// At the first byte of the size query's body: the file is made ready, and
// when its first segment starts at byte 0 with nothing written, the answer
// becomes that segment's transfer.
CDownloadWorker* CDownloadRound::OnAnswer(long status, int64_t length, const Validators& validators)
{
    DownloadFailure ignored;
    if (!AcceptSize(status, length, validators, ignored))
        return nullptr;
    m_bPrepared = true;
    m_nPrepared = Prepare();
    if (m_nPrepared != 0 || Stopping())
        return nullptr;
    m_scheduler.emplace(CSegmentScheduler::Setup{m_c.url, length, m_validators}, m_c.file, m_c.pool, m_c.policy,
                        m_c.settings, m_c.signals, m_c.stop);
    return m_scheduler->TakeOverFirst();
}

bool CDownloadRound::MorePay(int64_t remaining, double bytesPerSecond, double requestSeconds)
{
    if (!m_c.signals.mayWiden || m_c.oneStream)
        return false;
    return m_c.settings.m_morePay ? m_c.settings.m_morePay(remaining, bytesPerSecond, requestSeconds)
                                  : MoreConnectionsPay(remaining, bytesPerSecond, requestSeconds);
}

// Every transfer has ended: the file is complete, or the round failed, and
// the failure says why.
CDownloadRound::Result CDownloadRound::EndSegments()
{
    CSegmentScheduler::Outcome outcome = m_scheduler->TakeOutcome();
    std::string syncFailure = m_c.file.SyncFailure();
    if (!syncFailure.empty())
        return Failed({FailureCause::FileAccess, 0, syncFailure});
    if (!outcome.changedTo.empty())
        return {End::Changed,
                {FailureCause::Changed, 0,
                 "the file changed on the server during the download (" + m_validators.Describe() + ", then " +
                     outcome.changedTo + ")"}};
    if (m_c.file.WithTable([](CSegmentTable& t) { return t.AllFinished(); }))
        return {End::Complete, {}};
    if (outcome.refusedStatus != 0)
        return Failed({FailureCause::HttpStatus, outcome.refusedStatus,
                       "HTTP " + std::to_string(outcome.refusedStatus) + " to a range request"});
    return Failed({FailureCause::Transfer, 0, "the transfers ended with bytes missing"});
}
