// CMainDlg: the operator's working window (template 129): the company's
// meetings on the left, the chosen meeting's resources on the right, the
// three icon buttons, the figures and the percent bar.
//
// Threads: every handler runs on the UI thread. A click on a meeting starts
// the one worker thread, which fetches the resource list and hands the rows
// to the UI thread (PostToWindow); it never waits for the UI thread, so the
// UI thread may wait for it (closing).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/ClientContext.h"
#include "cache/CacheLayout.h"
#include "framework/Dialog.h"
#include "framework/Event.h"
#include "net/HttpDownload.h"
#include "net/HttpRequest.h"
#include "services/ResourceItem.h"

class CIconButton;
class CPercentBar;
class wxListCtrl;

class CMainDlg : public CDialog {
public:
    static constexpr unsigned kTimerId = 1;
    static constexpr int kListAnswerSize = 0x80000;

    CMainDlg();
    ~CMainDlg() override;

    // Called once before the window runs: the company of the login.
    void SetCompany(std::string compId) { m_context.comp_id = std::move(compId); }
    const ClientContext& GetContext() const { return m_context; }

    bool OnInitDialog() override;
    // Escape, the hidden cancel button and the close box all end the
    // window through the same steps: the worker is waited for, every row
    // released.
    void OnCancel() override;
    void OnTimer(unsigned id) override;

    void FetchMeetingList();
    void OnMeetingClick();
    void OnRefresh();
    void OnContentDblClk();
    void ShowDiskSpace();
    void ClearResourceList();

    bool IsFetching() const { return m_nFetching != 0; }
    const std::vector<std::string>& MeetingIds() const { return m_meetingIds; }
    const std::vector<std::unique_ptr<ResourceItem>>& Items() const { return m_items; }
    wxListCtrl* GetList(int id) const;
    CIconButton* GetButton(int id) const;
    // Control 1032; null while the window does not exist.
    CPercentBar* GetProgressBar() const;

protected:
    wxWindow* CreateControl(const ControlTemplate& control, wxWindow* parent, const wxPoint& pos,
                            const wxSize& size) override;

private:
    void SetupLists();
    void BindListNotifications();
    void BeginFetch();
    void ResourceListThread(HWND hwnd, std::string meetId);
    void EndFetch(std::vector<ResourceItem> items);
    void ClearMeetingList();

    std::thread m_worker;           // the resource-list fetch while it runs
    CEvent m_stopEvent;             // asks the worker to stop
    std::atomic<int> m_nStopFlag{0};
    ClientContext m_context;
    CHttpDownload m_download;       // the caching job's engine; its owner is this window
    CHttpRequest m_request;         // meeting list, resource list
    std::atomic<int> m_nFetching{0};     // the resource-list fetch runs
    int m_nWaitTicks = 0;                // timer ticks of the current fetch
    std::vector<std::string> m_meetingIds;              // row data of list 1005, by row
    std::vector<std::unique_ptr<ResourceItem>> m_items;  // row data of list 1001, by row
    CCacheLayout m_cache;
};
