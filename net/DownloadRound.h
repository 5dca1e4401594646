// CDownloadRound: one round of a download: the size query (up to five
// tries, each waiting for a connection of the pool), the part file made
// ready at the answer's first byte, the segments' transfers until every
// one ended, and what the round came to. Everything it makes (the
// scheduler, its workers and restart records) ends with it.
#pragma once

#include <atomic>
#include <optional>
#include <string>

#include "framework/Event.h"
#include "framework/Win32Types.h"
#include "net/DownloadFailure.h"
#include "net/EngineSettings.h"
#include "net/PartFile.h"
#include "net/SegmentScheduler.h"
#include "net/SizeProbe.h"

class CDownloadRound : private ProbeHost {
public:
    static constexpr int kSizeQueryAttempts = 5;
    // Larger sizes (a hostile Content-Length near 2^63) are refused, so the
    // arithmetic on sizes and offsets cannot overflow.
    static constexpr int64_t kMaxFileSize = int64_t(1) << 60;

    struct Context {
        const std::string& url;       // as listed, escaped for the transport
        bool oneStream;               // the file comes in one stream from byte 0
        CPartFile& file;
        CConnectionCache& pool;
        const RequestPolicy& policy;
        const EngineSettings& settings;
        EngineSignals& signals;
        CEvent& stop;
        CTransferStop& queryStop;     // ends the size query on a stop
        double& rate;                 // the last answer's rate (bytes a second)
        std::atomic<int64_t>& fileSize;
    };
    enum class End { Stopped, Complete, Changed, Failed };
    struct Result {
        End end = End::Stopped;
        DownloadFailure failure;      // for Changed and Failed
    };

    explicit CDownloadRound(const Context& context) : m_c(context) {}

    Result Run();

private:
    // ProbeHost
    CDownloadWorker* OnAnswer(long status, int64_t length, const Validators& validators) override;
    bool MorePay(int64_t remaining, double bytesPerSecond, double requestSeconds) override;
    bool Widen() override { return m_scheduler->StartPending(true); }
    void EndTakeOver(bool transferOk) override { m_scheduler->EndTakeOver(transferOk); }

    bool QuerySize(DownloadFailure& why);
    CURL* AwaitConnection();
    bool AcceptSize(long status, int64_t length, const Validators& validators, DownloadFailure& why);
    int Prepare();
    Result EndSegments();
    static Result Failed(DownloadFailure failure) { return {End::Failed, std::move(failure)}; }
    bool Stopping() const { return m_c.stop.IsSet(); }

    const Context m_c;
    Validators m_validators;      // of the accepted size query
    uint64_t m_nIdentity = 0;
    bool m_bPrepared = false;     // the part file was made ready (with m_nPrepared)
    int m_nPrepared = 0;
    DownloadFailure m_prepareFailure;
    std::optional<CSegmentScheduler> m_scheduler;
};
