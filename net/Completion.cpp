#include "net/Completion.h"

#include <string>

#include "common/Trace.h"

void CCompletion::Begin(std::string md5, int64_t listedSize)
{
    m_strMd5 = std::move(md5);
    m_nListedSize = listedSize;
    m_bOverruled = false;
}

bool CCompletion::AwaitEarlier(CEvent& stop, std::atomic<bool>& finishing)
{
    if (!m_finisher)
        return true;
    if (!Await(stop, finishing))
        return false;
    m_finisher.reset();
    finishing = false;
    return true;
}

// False when a stop came first; the finisher then goes on alone.
bool CCompletion::Await(CEvent& stop, std::atomic<bool>& finishing)
{
    finishing = true;
    CEvent* events[] = {&stop, &m_finisher->Ended()};
    return WaitForMultipleObjects(2, events, INFINITE) != WAIT_OBJECT_0;
}

CCompletion::End CCompletion::Finish(CFileFinisher::Files files, const CFileFinisher::Sync& sync, CEvent& stop,
                                     std::atomic<bool>& finishing, std::function<void()> placed,
                                     DownloadFailure& why)
{
    if (files.fd == fsys::kNoFile) {
        why = {FailureCause::FileAccess, 0, files.tempPath + " is not open"};
        return End::Failed;
    }
    // A second copy like the first is kept only at the listed size.
    int64_t size = files.size;
    bool sizeAsListed = m_nListedSize <= 0 || size == m_nListedSize;
    files.md5 = m_strMd5;
    files.alsoAccepted = sizeAsListed ? m_strFirstDigest : std::string();
    m_finisher = std::make_unique<CFileFinisher>(
        std::move(files), sync, [this, placed = std::move(placed), first = m_strFirstDigest](const std::string& digest) {
            m_bOverruled = !first.empty() && digest == first;
            placed();
        });
    if (!Await(stop, finishing))
        return End::Stopped;
    bool isPlaced = m_finisher->Placed(), mismatched = m_finisher->Mismatched();
    std::string failure = m_finisher->Failure(), digest = m_finisher->Digest();
    m_finisher.reset();
    if (isPlaced)
        return End::Placed;  // still "finishing" until the next start: nothing to watch
    finishing = false;
    if (!mismatched) {
        why = {FailureCause::FileAccess, 0, failure};
        return End::Failed;
    }
    // The bytes differ from the digest given: the first time, the file is
    // fetched again from nothing; a second copy unlike the first means the
    // transfers are not to be trusted, and one like it at another size than
    // the list's is not the resource at all.
    if (m_strFirstDigest.empty()) {
        DebugLog("download: %s; fetching it again", failure.c_str());
        m_strFirstDigest = digest;
        return End::FetchAgain;
    }
    why = {FailureCause::Checksum, 0, failure + " (and " + m_strFirstDigest + " before)"};
    if (digest == m_strFirstDigest)
        why.text += "; both copies are " + std::to_string(size) + " bytes, the list gives " +
                    std::to_string(m_nListedSize);
    return End::Failed;
}

void CCompletion::Cancel()
{
    if (m_finisher)
        m_finisher->Cancel();
}
