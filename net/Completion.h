// CCompletion: the end of a download whose every byte is written. The
// finisher (CFileFinisher) syncs the file, checks its digest and moves it
// into place on a thread of its own; the engine's thread waits for it
// unless a stop comes first, and the next start waits for a finisher left
// running. With an md5 to meet, a file that differs is fetched once more
// from nothing; two copies that agree are kept only when their size is
// the size the list gives (the list's md5 is then stale), never when the
// two copies are something else, such as a captive portal's page.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "framework/Event.h"
#include "framework/Win32Types.h"
#include "net/DownloadFailure.h"
#include "net/FileFinisher.h"

class CCompletion {
public:
    enum class End { Placed, Stopped, FetchAgain, Failed };

    CCompletion() = default;
    // The disk is done with the last file after this.
    ~CCompletion() { m_finisher.reset(); }
    CCompletion(const CCompletion&) = delete;
    CCompletion& operator=(const CCompletion&) = delete;

    // A new start: the digest the file must have (empty: any) and the size
    // the list gives (0: not known).
    void Begin(std::string md5, int64_t listedSize);
    // Another file: the first copy's digest is forgotten.
    void Forget() { m_strFirstDigest.clear(); }
    // Waits for the finisher an earlier start left, if any; false when a
    // stop came first.
    bool AwaitEarlier(CEvent& stop, std::atomic<bool>& finishing);
    // Syncs, checks and places `files` while this thread waits. `placed`
    // runs on the finisher's thread once the file is in place.
    End Finish(CFileFinisher::Files files, const CFileFinisher::Sync& sync, CEvent& stop,
               std::atomic<bool>& finishing, std::function<void()> placed, DownloadFailure& why);
    // A stop: a finisher still running leaves the file where it is.
    void Cancel();
    // After a placed file: it was kept although its digest is not the md5
    // given (two copies agreed on another one, of the listed size).
    bool ChecksumOverruled() const { return m_bOverruled; }

private:
    bool Await(CEvent& stop, std::atomic<bool>& finishing);

    std::string m_strMd5;
    int64_t m_nListedSize = 0;
    std::string m_strFirstDigest;  // of a first copy unlike m_strMd5
    std::unique_ptr<CFileFinisher> m_finisher;  // this start's, or one a stop left running
    std::atomic<bool> m_bOverruled{false};
};
