#include "ui/MainDlg.h"

#include <utility>
#include <wx/clipbrd.h>
#include <wx/dialog.h>
#include <wx/listctrl.h>

#include "cache/Figures.h"
#include "common/FileSystem.h"
#include "common/ModulePath.h"
#include "common/SteadyClock.h"
#include "common/Trace.h"
#include "common/Utf8ToLocal.h"
#include "framework/LocalText.h"
#include "framework/MessageBox.h"
#include "framework/WaitCursor.h"
#include "res/resource.h"
#include "services/ServiceEndpoint.h"
#include "services/ServiceLists.h"
#include "ui/IconButton.h"
#include "ui/ListToolTips.h"
#include "ui/PercentBar.h"

namespace {

constexpr const char* kWaitingText = ">>>>>>正在获取缓存列表请稍候>>>>>>";
// The waiting text slides two spaces a tick and starts over after 40 ticks.
constexpr int kWaitingRun = 80;

struct Column {
    const char* heading;
    int format;
    int width;
};

const Column kMeetingColumns[] = {{"会议名称", wxLIST_FORMAT_LEFT, 100}, {"状态", wxLIST_FORMAT_CENTRE, 60}};
const Column kContentColumns[] = {{"内容名称", wxLIST_FORMAT_CENTRE, 340},
                                  {"缓存进度", wxLIST_FORMAT_CENTRE, 100},
                                  {"缓存状态", wxLIST_FORMAT_CENTRE, 100}};

std::string ServiceUrl(const ServiceEndpoint& service, const std::string& pathAndQuery)
{
    return "http://" + service.host + ":" + std::to_string(service.port) + pathAndQuery;
}

// The status line of a list that could not be fetched (UTF-8).
std::string ListFailureText(int failure, const ServiceEndpoint& service, const char* list)
{
    return IsNoConnection(failure) ? UnreachableText(service) : std::string(list) + "获取失败";
}

int FirstSelected(wxListCtrl* list)
{
    return list ? static_cast<int>(list->GetNextItem(-1, wxLIST_NEXT_ALL, wxLIST_STATE_SELECTED)) : -1;
}

}  // namespace

CMainDlg::CMainDlg()
    : CDialog(IDD_MAIN_DIALOG),
      m_job(m_items, m_cache, *this, SteadySeconds)
{
    m_request.m_nTimeLimitMs = kServiceTimeLimitMs;
    MapCommand(IDC_REFRESH, [this] { OnRefresh(); });
    MapCommand(IDC_ACCELERATE, [this] { OnAccelerate(); });
}

CMainDlg::~CMainDlg()
{
    m_nStopFlag = 1;
    m_stopEvent.SetEvent();
    m_nServerCancel = 1;
    if (m_worker.joinable())
        m_worker.join();
    if (m_serverStart.joinable())
        m_serverStart.join();
}

wxWindow* CMainDlg::CreateControl(const ControlTemplate& control, wxWindow* parent, const wxPoint& pos,
                                  const wxSize& size)
{
    if (control.id == IDC_PROGRESS)
        return new CPercentBar(parent, control.id, pos, size);
    if (control.kind == ControlKind::Button && (control.style & CTL_OWNERDRAW))
        return new CIconButton(parent, control.id, Utf8ToWx(control.text), pos, size);
    return CDialog::CreateControl(control, parent, pos, size);
}

wxListCtrl* CMainDlg::GetList(int id) const
{
    return dynamic_cast<wxListCtrl*>(GetDlgItem(id));
}

CIconButton* CMainDlg::GetButton(int id) const
{
    return dynamic_cast<CIconButton*>(GetDlgItem(id));
}

CPercentBar* CMainDlg::GetProgressBar() const
{
    return dynamic_cast<CPercentBar*>(GetDlgItem(IDC_PROGRESS));
}

bool CMainDlg::OnInitDialog()
{
    SetIcon(IDI_APP);
    ShowDlgItem(IDC_WAITING, false);
    GetButton(IDC_REFRESH)->m_nIconId = IDI_REFRESH;
    GetButton(IDOK)->m_nIconId = IDI_START_CACHING;
    GetButton(IDC_ACCELERATE)->m_nIconId = IDI_ACCEL_STOPPED;
    SetupLists();
    FetchMeetingList();
    m_job.SetOwnerWindow(GetSafeHwnd());
    m_cache.SetupPaths(m_strProgramPath.empty() ? GetModuleFileNameA() : m_strProgramPath);
    m_server.SetProgramDir(m_cache.ExeDir());
    ShowDiskSpace();
    UpdateControls();
    return true;
}

void CMainDlg::SetupLists()
{
    // The column widths are meant for the design's font; they follow the
    // list's width, which follows the font.
    auto addColumns = [this](wxListCtrl* list, const auto& columns) {
        int index = 0;
        for (const Column& c : columns)
            list->InsertColumn(index++, Utf8ToWx(c.heading), c.format, ScaleWidth(c.width));
    };
    addColumns(GetList(IDC_MEETING_LIST), kMeetingColumns);
    addColumns(GetList(IDC_CONTENT_LIST), kContentColumns);
    BindListNotifications();
}

// A click notification for every left click on the meeting list, once the
// button is released and the list updated its selection (also on the row
// already chosen); a click on empty space leaves no row selected. Acting on
// the press instead would disable the list while it holds the pointer grab,
// which leaves the window without keyboard input. A double-click on a content row
// copies its URL; one on a meeting row does nothing.
void CMainDlg::BindListNotifications()
{
    wxListCtrl* meetings = GetList(IDC_MEETING_LIST);
    // The rows window hands its mouse events to the list first, in its own
    // coordinates, which are the ones HitTest takes.
    wxWindow* rows = meetings;
    // The release that ends a double-click is no click of its own.
    rows->Bind(wxEVT_LEFT_DCLICK, [this](wxMouseEvent& event) {
        event.Skip();
        m_bDoubleClickUp = true;
    });
    rows->Bind(wxEVT_LEFT_UP, [this, meetings](wxMouseEvent& event) {
        event.Skip();
        if (std::exchange(m_bDoubleClickUp, false))
            return;
        int flags = 0;
        if (meetings->HitTest(event.GetPosition(), flags) == wxNOT_FOUND)
            for (int row = FirstSelected(meetings); row != -1; row = FirstSelected(meetings))
                meetings->SetItemState(row, 0, wxLIST_STATE_SELECTED);
        HWND hwnd = GetSafeHwnd();
        PostToWindow(hwnd, [this] { OnMeetingClick(); });
    });
    GetList(IDC_CONTENT_LIST)->Bind(wxEVT_LIST_ITEM_ACTIVATED, [this](wxListEvent&) { OnContentDblClk(); });
    ShowCutLabelsInToolTips(meetings);
    // A failed row tells why while the pointer rests on it.
    ShowCutLabelsInToolTips(GetList(IDC_CONTENT_LIST), [this](long row) {
        return row >= 0 && static_cast<size_t>(row) < m_rowFailures.size() ? Utf8ToWx(m_rowFailures[row].c_str())
                                                                           : wxString();
    });
}

void CMainDlg::ShowDiskSpace()
{
    OnUiThread([this] {
        int64_t available = fsys::FreeBytes(m_cache.ExeDir());
        if (available >= 0)
            SetDlgItemText(IDC_DISK_SPACE, Utf8ToLocal(DiskSpaceText(available)));
    });
}

void CMainDlg::ClearMeetingList()
{
    GetList(IDC_MEETING_LIST)->DeleteAllItems();
    m_meetingIds.clear();
}

void CMainDlg::FetchMeetingList()
{
    ClearMeetingList();
    ServiceEndpoint service = MeetingServiceEndpoint();
    std::string url = ServiceUrl(service, "/get_meet_list?comp_id=" + m_context.comp_id);
    // Not zeroed: Get ends the body with a NUL, and the pages never written
    // are never touched.
    auto answer = std::make_unique_for_overwrite<char[]>(kListAnswerSize);
    bool answered = false;
    std::vector<MeetingRow> meetings;
    {
        CWaitCursor busy;
        if (m_request.Get(url.c_str(), answer.get(), kListAnswerSize) == HTTP_RESULT_OK)
            meetings = ParseMeetingList(answer.get(), &answered);
    }
    if (!answered)
        SupportLog("meeting list failed: %s", RequestOutcomeText(service, m_request).c_str());
    ShowStatusLine(answered ? std::string() : ListFailureText(m_request.m_nFailure, service, "会议列表"));
    wxListCtrl* list = GetList(IDC_MEETING_LIST);
    for (const MeetingRow& meeting : meetings) {
        long row = list->InsertItem(list->GetItemCount(), LocalToWx(meeting.name));
        list->SetItem(row, 1, Utf8ToWx(meeting.status.c_str()));
        m_meetingIds.push_back(meeting.meet_id);
    }
}

// A short line in place of the figures when a list could not be fetched;
// an empty text brings the figures back.
void CMainDlg::ShowStatusLine(const std::string& utf8)
{
    bool failed = !utf8.empty();
    ShowDlgItem(IDC_DISK_SPACE, !failed);
    ShowDlgItem(IDC_ELAPSED, !failed);
    ShowDlgItem(IDC_ELAPSED_LABEL, !failed);
    ShowDlgItem(IDC_WAITING, failed);
    if (failed)
        SetDlgItemText(IDC_WAITING, Utf8ToLocal(utf8));
}

// The request object is the fetch's while a resource list is fetched.
void CMainDlg::OnRefresh()
{
    if (!m_nFetching)
        FetchMeetingList();
}

void CMainDlg::OnMeetingClick()
{
    int row = FirstSelected(GetList(IDC_MEETING_LIST));
    if (row < 0 || row >= static_cast<int>(m_meetingIds.size()) || m_nFetching)
        return;
    GetProgressBar()->SetPos(0);
    m_context.meet_id = m_meetingIds[row];
    ShowDlgItem(IDC_DISK_SPACE, false);
    ShowDlgItem(IDC_ELAPSED, false);
    ShowDlgItem(IDC_ELAPSED_LABEL, false);
    ShowDlgItem(IDC_WAITING, true);
    m_job.Reset();
    m_stopEvent.ResetEvent();
    m_nStopFlag = 0;
    if (m_worker.joinable())
        m_worker.join();  // the last fetch, already at its end
    BeginFetch();
    try {
        m_worker = std::thread(&CMainDlg::ResourceListThread, this, GetSafeHwnd(), m_context.meet_id);
    } catch (const std::system_error&) {
        EndFetch({}, "内容列表获取失败");
    }
}

// The fetch's first steps, on the UI thread before the worker starts.
void CMainDlg::BeginFetch()
{
    m_nFetching = 1;
    m_nWaitTicks = 0;
    SetTimer(kFetchTimerId, 1000);
    UpdateControls();
    SetDlgItemText(IDC_WAITING, Utf8ToLocal(kWaitingText));
    ClearResourceList();
}

// Closing the window sets the stop flag, which also ends a request still
// waiting for the service.
void CMainDlg::ResourceListThread(HWND hwnd, std::string meetId)
{
    ServiceEndpoint service = ResourceServiceEndpoint();
    std::string url = ServiceUrl(service, "/resource/get_list?meet_id=" + meetId + "&client=qv");
    auto answer = std::make_unique_for_overwrite<char[]>(kListAnswerSize);
    std::vector<ResourceItem> items;
    bool answered = false;
    HttpCallOptions stoppable;
    stoppable.stop = &m_nStopFlag;
    if (m_request.Get(url.c_str(), answer.get(), kListAnswerSize, &stoppable) == HTTP_RESULT_OK)
        items = ParseResourceList(answer.get(), &answered);
    std::string status = answered ? std::string() : ListFailureText(m_request.m_nFailure, service, "内容列表");
    if (m_nStopFlag)
        return;
    if (!answered)
        SupportLog("content list of meeting %s failed: %s", meetId.c_str(),
                   RequestOutcomeText(service, m_request).c_str());
    PostToWindow(hwnd, [this, items = std::move(items), status]() mutable {
        if (!m_nStopFlag)
            EndFetch(std::move(items), status);
    });
}

// The fetch's rows and last steps, on the UI thread; `status` says why the
// list could not be fetched (empty when it was).
void CMainDlg::EndFetch(std::vector<ResourceItem> items, const std::string& status)
{
    wxListCtrl* list = GetList(IDC_CONTENT_LIST);
    for (ResourceItem& item : items) {
        long row = list->InsertItem(list->GetItemCount(), LocalToWx(item.name));
        list->SetItem(row, 1, wxString());
        list->SetItem(row, 2, Utf8ToWx(StatusText(STATUS_NOT_STARTED)));
        m_items.push_back(std::make_unique<ResourceItem>(std::move(item)));
    }
    ShowStatusLine(status);
    if (!m_items.empty())
        SetCommandButton(IDOK, "开始缓存", IDI_START_CACHING);
    SetDlgItemText(IDC_ELAPSED, std::string());
    KillTimer(kFetchTimerId);
    m_nFetching = 0;
    m_nWaitTicks = 0;
    // New rows: no job yet, nothing of them to serve.
    m_jobStage = JobStage::None;
    m_bServable = false;
    m_bListsBack = false;
    UpdateControls();
}

void CMainDlg::UpdateControls()
{
    WindowActivity activity;
    activity.fetching = m_nFetching != 0;
    activity.rows = !m_items.empty();
    activity.job = m_jobStage;
    activity.servable = m_bServable;
    activity.listsBack = m_bListsBack;
    activity.server = m_serverStage;
    EnabledControls on = EnabledFor(activity);
    EnableDlgItem(IDC_REFRESH, on.lists);
    EnableDlgItem(IDC_MEETING_LIST, on.lists);
    EnableDlgItem(IDOK, on.caching);
    EnableDlgItem(IDC_ACCELERATE, on.accelerate);
}

void CMainDlg::ClearResourceList()
{
    m_items.clear();
    m_rowFailures.clear();
    GetList(IDC_CONTENT_LIST)->DeleteAllItems();
}

void CMainDlg::OnTimer(unsigned id)
{
    switch (id) {
    case kProgressTimerId:
        m_job.ProgressTick();  // does nothing unless a download runs
        break;
    case kFetchTimerId:
        if (m_nFetching) {
            ++m_nWaitTicks;
            std::string text(2 * m_nWaitTicks % kWaitingRun, ' ');
            SetDlgItemText(IDC_WAITING, Utf8ToLocal(text + kWaitingText));
            RepaintNow();
        }
        break;
    case kServerTimerId:
        CheckServer();
        break;
    }
}

void CMainDlg::RepaintNow()
{
    GetWindow()->Refresh();
    GetWindow()->Update();
}

// A cache that cannot be written is said at once, instead of every row
// failing one after another.
void CMainDlg::OnOK()
{
    if (m_job.IsRunning()) {
        m_job.Stop();
    } else if (!m_cache.CanWriteCache()) {
        AfxMessageBox(Utf8ToLocal("无法写入缓存目录 " + m_cache.AssetsDir() + "，请把程序安装到可写的目录（如 ~/.local）"));
        return;
    } else {
        m_job.Start();
    }
    RepaintNow();
}

void CMainDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_DOWNLOAD_NOTIFY)
        m_job.OnDownloadEvent(static_cast<uint8_t>(wParam & 0xFF), lParam);
}

void CMainDlg::SetCommandButton(int id, const char* caption, unsigned iconId)
{
    GetButton(id)->m_nIconId = iconId;
    SetDlgItemText(id, Utf8ToLocal(caption));
}

void CMainDlg::OnContentDblClk()
{
    int row = FirstSelected(GetList(IDC_CONTENT_LIST));
    if (row < 0 || row >= static_cast<int>(m_items.size()) || !wxTheClipboard->Open())
        return;
    wxTheClipboard->Clear();
    wxTheClipboard->SetData(new wxTextDataObject(wxString::FromUTF8(m_items[row]->url)));
    wxTheClipboard->Close();
}

// A server start under way is called off (it ends within about 100 ms and
// takes its server with it); one that ended running just now is stopped
// here, as a running one is.
void CMainDlg::OnCancel()
{
    m_nStopFlag = 1;
    m_stopEvent.SetEvent();
    m_nServerCancel = 1;
    if (m_worker.joinable())
        m_worker.join();
    if (m_serverStart.joinable())
        m_serverStart.join();
    m_job.Stop();  // waits for the check; the engine leaves its files for a resume
    int error = 0;
    if (m_serverStage == ServerStage::Running || m_server.IsRunning())
        m_server.StopAccelerationService(error);
    m_serverStage = ServerStage::Stopped;
    for (unsigned id : {kProgressTimerId, kFetchTimerId, kServerTimerId})
        KillTimer(id);
    m_nFetching = 0;
    ClearResourceList();
    ClearMeetingList();
    m_cache.ClearScanList();
    EndDialog(IDCANCEL);
}
