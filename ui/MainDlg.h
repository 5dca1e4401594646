// CMainDlg: the operator's working window (template 129): the company's
// meetings on the left, the chosen meeting's resources on the right, the
// three icon buttons, the figures and the percent bar.
//
// Threads: every handler runs on the UI thread. A click on a meeting starts
// the one worker thread, which fetches the resource list and hands the rows
// to the UI thread (PostToWindow); "启动加速" starts the server on a thread
// of its own, which hands its result back the same way. Neither waits for
// the UI thread, so the UI thread may wait for them (closing), after asking
// them to stop.
#pragma once

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "accel/AccelerationServer.h"
#include "cache/CacheLayout.h"
#include "cache/CachingJob.h"
#include "cache/CachingView.h"
#include "common/ClientContext.h"
#include "framework/Dialog.h"
#include "framework/Event.h"
#include "net/HttpDownload.h"
#include "net/HttpRequest.h"
#include "services/ResourceItem.h"
#include "ui/EnabledControls.h"

class CIconButton;
class CPercentBar;
class wxListCtrl;

class CMainDlg : public CDialog, private CachingView {
public:
    // The window's timers, one for each thing that ticks.
    static constexpr unsigned kProgressTimerId = 1;  // the caching job's progress, once a second
    static constexpr unsigned kFetchTimerId = 2;     // the waiting text of a fetch, once a second
    static constexpr unsigned kServerTimerId = 3;    // the server still runs, every 20 s
    static constexpr unsigned kServerCheckMs = 20000;
    // The largest meeting or resource list taken (a large meeting with
    // signed URLs passes 512 KiB).
    static constexpr int kListAnswerSize = 16 << 20;

    CMainDlg();
    ~CMainDlg() override;

    // Where the program lies (its directory holds assets/ and the web
    // server); the running executable unless set before the window opens.
    void SetProgramPath(std::string path) { m_strProgramPath = std::move(path); }
    // Called once before the window runs: the company of the login.
    void SetCompany(std::string compId) { m_context.comp_id = std::move(compId); }
    const ClientContext& GetContext() const { return m_context; }

    bool OnInitDialog() override;
    // The caching command: starts the caching job, or stops it.
    void OnOK() override;
    // Escape, the hidden cancel button and the close box all end the
    // window through the same steps: the worker is waited for, every row
    // released.
    void OnCancel() override;
    void OnTimer(unsigned id) override;

    void FetchMeetingList();
    void OnMeetingClick();
    void OnRefresh();
    void OnContentDblClk();
    // Starts the local web server and confirms it (off the UI thread), or
    // stops it.
    void OnAccelerate();
    bool IsAccelerating() const { return m_serverStage == ServerStage::Running; }
    bool IsStartingServer() const { return m_serverStage == ServerStage::Starting; }
    void ShowDiskSpace() override;
    void ClearResourceList();

    bool IsFetching() const { return m_nFetching != 0; }
    bool IsChecking() const { return m_job.IsChecking(); }
    const std::vector<std::string>& MeetingIds() const { return m_meetingIds; }
    const std::vector<std::unique_ptr<ResourceItem>>& Items() const { return m_items; }
    wxListCtrl* GetList(int id) const;
    CIconButton* GetButton(int id) const;
    // Control 1032; null while the window does not exist.
    CPercentBar* GetProgressBar() const;

protected:
    void HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    wxWindow* CreateControl(const ControlTemplate& control, wxWindow* parent, const wxPoint& pos,
                            const wxSize& size) override;

private:
    void SetupLists();
    void BindListNotifications();
    void BeginFetch();
    void ResourceListThread(HWND hwnd, std::string meetId);
    void EndFetch(std::vector<ResourceItem> items, const std::string& status);
    void ShowStatusLine(const std::string& utf8);
    void ClearMeetingList();
    void ShowStopFailure(int error);
    void EndServerStart(const CAccelerationServer::StartResult& result);
    // The window as it is once the server no longer runs.
    void ShowServerStopped();
    // The server timer's tick: a server that ended by itself is said.
    void CheckServer();
    // Enables the commands as EnabledFor says for what the window does now.
    void UpdateControls();
    void SetCommandButton(int id, const char* caption, unsigned iconId);
    void RepaintNow();
    // Runs `update` now on the UI thread, or hands it to the UI thread,
    // after every update queued before it.
    void OnUiThread(std::function<void()> update);
    void ApplyUpdates();

    // CachingView
    void ShowRowPercent(size_t row, const std::string& text) override;
    void ShowRowStatus(size_t row, uint8_t status) override;
    void ShowRowFailure(size_t row, const std::string& why) override;
    void ShowBar(int position) override;
    void ShowElapsed(const std::string& text) override;
    void ShowNotice(const std::string& text) override;
    void ShowPhase(Phase phase) override;
    void StartProgressTimer() override;
    void StopProgressTimer() override;

    std::thread m_worker;           // the resource-list fetch while it runs
    CEvent m_stopEvent;             // asks the worker to stop
    std::atomic<int> m_nStopFlag{0};
    ClientContext m_context;
    CHttpRequest m_request;         // meeting list, resource list
    CAccelerationServer m_server;   // the local web server; the start thread's while it runs
    std::thread m_serverStart;      // starts the server
    std::atomic<int> m_nServerCancel{0};  // calls a start off (closing)
    std::atomic<ServerStage> m_serverStage{ServerStage::Stopped};
    JobStage m_jobStage = JobStage::None;  // the job of the listed rows, as last shown
    bool m_bServable = false;  // see WindowActivity
    bool m_bListsBack = false;
    std::atomic<int> m_nFetching{0};     // the resource-list fetch runs
    int m_nWaitTicks = 0;                // timer ticks of the current fetch
    bool m_bDoubleClickUp = false;       // the next release on the meetings ends a double-click
    std::vector<std::string> m_meetingIds;              // row data of list 1005, by row
    std::vector<std::unique_ptr<ResourceItem>> m_items;  // row data of list 1001, by row
    CCacheLayout m_cache;
    std::string m_strProgramPath;
    std::mutex m_updateLock;
    std::deque<std::function<void()>> m_updates;  // view updates not yet applied, in order
    std::vector<std::string> m_rowFailures;  // by row: why it failed (UTF-8), shown as its tooltip
    bool m_bNotice = false;         // the job's notice stands where the figures are
    CCachingJob m_job;              // uses the rows and the cache above; owns the engines
};
