// What the caching job shows, as the job sees the window: row texts, the
// bar, the elapsed time, the free space, the job's phase (which sets the
// buttons) and the progress timer. The main window implements it; it may be
// called from the caching thread as well as the UI thread, and must then
// hand the update to the UI thread without waiting for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CachingView {
public:
    // The states of the job that change the window's controls.
    enum class Phase {
        Checking,        // refresh and meetings off; IDOK "停止缓存"; 1035 "完整性检查中"
        CompleteAtOnce,  // nothing to download: IDOK off; 1007, refresh, meetings on
        Complete,        // the last bytes arrived: IDOK off; 1007 on
        GivenUp,         // ended with rows that failed: IDOK "开始缓存" on; refresh, meetings, 1007 on
        Stopped,         // the operator stopped: IDOK "开始缓存"; refresh, meetings on
    };

    virtual ~CachingView() = default;
    virtual void ShowRowPercent(size_t row, const std::string& text) = 0;  // column 1
    virtual void ShowRowStatus(size_t row, uint8_t status) = 0;            // column 2
    // Why a row failed (UTF-8), shown while the pointer rests on it; a row
    // that shows another status than "缓存失败" has no such text.
    virtual void ShowRowFailure(size_t row, const std::string& why) = 0;
    virtual void ShowBar(int position) = 0;
    virtual void ShowElapsed(const std::string& text) = 0;                 // static 1035
    // A line the operator must read (a host that cannot be reached), too
    // long for the figures' fields: it stands in their place until an
    // empty text brings them back.
    virtual void ShowNotice(const std::string& text) = 0;
    virtual void ShowDiskSpace() = 0;
    virtual void ShowPhase(Phase phase) = 0;
    virtual void StartProgressTimer() = 0;
    virtual void StopProgressTimer() = 0;
};
