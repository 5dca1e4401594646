#include <atomic>
#include <chrono>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <wx/clipbrd.h>
#include <wx/listctrl.h>

#include "demo/DemoServices.h"
#include "res/resource.h"
#include "tests/support/Environment.h"
#include "tests/support/Eventually.h"
#include "tests/support/GuiTest.h"
#include "ui/ListToolTips.h"
#include "tests/support/LoopbackServer.h"
#include "ui/IconButton.h"
#include "ui/MainDlg.h"
#include "ui/PercentBar.h"

namespace {

using namespace std::chrono_literals;

std::string Text(wxListCtrl* list, long row, int column)
{
    return list->GetItemText(row, column).utf8_string();
}

std::string Label(CMainDlg& dialog, int id)
{
    return dialog.GetDlgItem(id)->GetLabel().utf8_string();
}

void Select(wxListCtrl* list, long row)
{
    list->SetItemState(row, wxLIST_STATE_SELECTED, wxLIST_STATE_SELECTED);
}

// A point of the rows window (ListRowsWindow) on the first row's first
// column: the rows window's points are the ones the list's HitTest takes.
wxPoint OnFirstRow(wxListCtrl* list)
{
    wxPoint at(4, 0);
    for (int flags = 0; at.y < 200 && list->HitTest(at, flags) != 0;)
        at.y += 1;
    return at;
}

class MainDlgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        MountDemoServices(m_server.Routes());
        m_server.Start();
        // A resource service that takes its time, for fetches still running.
        m_slow.Routes().Get("/resource/get_list", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(300ms);
            res.set_content(R"({"code":0,"data":[{"url":"http://h/a.bin","name":"a"}]})", "application/json");
        });
        m_slow.Start();
        SetEnv("QUORVEL_MEETING_HOST", m_server.HostPort().c_str());
        SetEnv("QUORVEL_RESOURCE_HOST", m_server.HostPort().c_str());
    }

    void TearDown() override
    {
        m_dialog.DestroyWindow();
        UnsetEnv("QUORVEL_MEETING_HOST");
        UnsetEnv("QUORVEL_RESOURCE_HOST");
    }

    void Open()
    {
        m_dialog.SetCompany("qv-1001");
        ASSERT_TRUE(m_dialog.Create());
    }

    // Chooses a meeting and lets the fetch run to its end.
    void Choose(long row)
    {
        Select(Meetings(), row);
        m_dialog.OnMeetingClick();
        WaitForFetch();
    }

    void WaitForFetch()
    {
        for (int i = 0; i < 6000 && m_dialog.IsFetching(); ++i) {
            PumpEvents();
            std::this_thread::sleep_for(5ms);
        }
        ASSERT_FALSE(m_dialog.IsFetching());
    }

    size_t ResourceRequests() const
    {
        size_t n = 0;
        for (const SeenRequest& r : m_server.Requests())
            n += r.target.find("/resource/get_list") != std::string::npos ? 1 : 0;
        return n;
    }

    wxListCtrl* Meetings() { return m_dialog.GetList(IDC_MEETING_LIST); }
    wxListCtrl* Contents() { return m_dialog.GetList(IDC_CONTENT_LIST); }

    LoopbackServer m_server;
    LoopbackServer m_slow;
    CMainDlg m_dialog;
};

TEST_F(MainDlgTest, OpensWithTheCompanysMeetings)
{
    Open();
    ASSERT_EQ(Meetings()->GetItemCount(), 4);
    EXPECT_EQ(Text(Meetings(), 0, 0), "2026年度产品发布会");
    const char* words[] = {"开启", "未设置", "关闭", "删除"};
    for (int row = 0; row < 4; ++row)
        EXPECT_EQ(Text(Meetings(), row, 1), words[row]);
    EXPECT_EQ(m_dialog.MeetingIds()[1], "m-2002");

    wxListItem column;
    column.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH | wxLIST_MASK_FORMAT);
    ASSERT_EQ(Contents()->GetColumnCount(), 3);
    Contents()->GetColumn(0, column);
    EXPECT_EQ(column.GetText().utf8_string(), "内容名称");
    EXPECT_EQ(column.GetWidth(), m_dialog.ScaleWidth(340));
    EXPECT_EQ(Meetings()->GetColumnWidth(1), m_dialog.ScaleWidth(60));
    int contentWidths = 0, meetingWidths = 0;
    for (int i = 0; i < 3; ++i)
        contentWidths += Contents()->GetColumnWidth(i);
    for (int i = 0; i < 2; ++i)
        meetingWidths += Meetings()->GetColumnWidth(i);
    EXPECT_LE(contentWidths, Contents()->GetClientSize().x) << "every column in sight";
    EXPECT_LE(meetingWidths, Meetings()->GetClientSize().x);

    EXPECT_FALSE(m_dialog.GetDlgItem(IDOK)->IsEnabled());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_ACCELERATE)->IsEnabled());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_WAITING)->IsShown());
    EXPECT_EQ(Label(m_dialog, IDC_DISK_SPACE).rfind("磁盘剩余:", 0), 0u);
    EXPECT_EQ(m_dialog.GetButton(IDC_REFRESH)->m_nIconId, unsigned(IDI_REFRESH));
    EXPECT_EQ(m_dialog.GetButton(IDOK)->m_nIconId, unsigned(IDI_START_CACHING));
    EXPECT_EQ(m_dialog.GetButton(IDC_ACCELERATE)->m_nIconId, unsigned(IDI_ACCEL_STOPPED));
}

TEST_F(MainDlgTest, AClickFetchesTheMeetingsResources)
{
    Open();
    Select(Meetings(), 0);
    m_dialog.OnMeetingClick();
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_REFRESH)->IsEnabled());
    EXPECT_FALSE(Meetings()->IsEnabled());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDOK)->IsEnabled());
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_WAITING)->IsShown());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_DISK_SPACE)->IsShown());
    WaitForFetch();

    EXPECT_EQ(m_dialog.GetContext().meet_id, "m-2001");
    ASSERT_EQ(Contents()->GetItemCount(), 5);
    EXPECT_EQ(Text(Contents(), 0, 0), "开场视频");
    for (long row = 0; row < 5; ++row) {
        EXPECT_EQ(Text(Contents(), row, 1), "");
        EXPECT_EQ(Text(Contents(), row, 2), "缓存未开始");
    }
    EXPECT_EQ(m_dialog.Items()[0]->size, 3500000);
    EXPECT_TRUE(m_dialog.GetDlgItem(IDOK)->IsEnabled());
    EXPECT_EQ(Label(m_dialog, IDOK), "开始缓存");
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_REFRESH)->IsEnabled());
    EXPECT_TRUE(Meetings()->IsEnabled());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_WAITING)->IsShown());
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_ELAPSED_LABEL)->IsShown());
    EXPECT_EQ(m_dialog.GetProgressBar()->GetPos(), 0);
    EXPECT_EQ(m_server.Requests().back().target, "/resource/get_list?meet_id=m-2001&client=qv");
}

TEST_F(MainDlgTest, ClickingTheChosenRowAgainFetchesAgainWithOneSetOfRows)
{
    Open();
    Choose(0);
    Choose(0);
    EXPECT_EQ(ResourceRequests(), 2u);
    EXPECT_EQ(Contents()->GetItemCount(), 5);
    EXPECT_EQ(m_dialog.Items().size(), 5u);
}

// A meeting name its column cuts off shows in full in a tooltip while the
// pointer rests on it; one that fits shows none.
TEST_F(MainDlgTest, ANameCutOffByItsColumnShowsInATooltip)
{
    Open();
    wxWindow* rows = ListRowsWindow(Meetings());
    wxPoint at = OnFirstRow(Meetings());
    auto hover = [&](int width) {
        Meetings()->SetColumnWidth(0, width);
        wxMouseEvent motion(wxEVT_MOTION);
        motion.SetPosition(at);
        motion.SetEventObject(rows);
        rows->GetEventHandler()->ProcessEvent(motion);
        return rows->GetToolTipText().utf8_string();
    };
    EXPECT_EQ(hover(40), "2026年度产品发布会");
    EXPECT_EQ(hover(600), "");
}

TEST_F(MainDlgTest, AClickOnEmptySpaceDoesNothing)
{
    Open();
    m_dialog.OnMeetingClick();
    EXPECT_FALSE(m_dialog.IsFetching());
    EXPECT_EQ(ResourceRequests(), 0u);
}

TEST_F(MainDlgTest, AnEmptyListLeavesStartDisabled)
{
    Open();
    Choose(3);
    EXPECT_EQ(Contents()->GetItemCount(), 0);
    EXPECT_FALSE(m_dialog.GetDlgItem(IDOK)->IsEnabled());
    EXPECT_TRUE(Meetings()->IsEnabled());
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_REFRESH)->IsEnabled());
}

TEST_F(MainDlgTest, AFailedFetchLeavesStartDisabledAndTheControlsEnabled)
{
    Open();
    Choose(0);
    RefusingPort refusing;
    std::string closed = refusing.HostPort();
    SetEnv("QUORVEL_RESOURCE_HOST", closed.c_str());
    Choose(1);
    EXPECT_EQ(Contents()->GetItemCount(), 0);
    EXPECT_TRUE(m_dialog.Items().empty());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDOK)->IsEnabled());
    EXPECT_TRUE(Meetings()->IsEnabled());
    EXPECT_EQ(Label(m_dialog, IDC_WAITING), "无法连接服务器 " + closed);
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_WAITING)->IsShown());
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_DISK_SPACE)->IsShown());
}

// Answers the JSON reader refuses by throwing (nesting too deep) reach both
// lists: on opening, on a refresh and through the resource-list worker.
TEST_F(MainDlgTest, HostileAnswersLeaveTheListsEmptyWithAStatusLine)
{
    LoopbackServer hostile;
    for (const char* path : {"/get_meet_list", "/resource/get_list"})
        hostile.Routes().Get(path, [](const httplib::Request&, httplib::Response& res) {
            res.set_content(std::string(100000, '['), "application/json");
        });
    hostile.Start();
    SetEnv("QUORVEL_MEETING_HOST", hostile.HostPort().c_str());
    Open();
    EXPECT_EQ(Meetings()->GetItemCount(), 0);
    EXPECT_EQ(Label(m_dialog, IDC_WAITING), "会议列表获取失败");
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_WAITING)->IsShown());
    m_dialog.SendCommand(IDC_REFRESH);
    EXPECT_EQ(Meetings()->GetItemCount(), 0);

    SetEnv("QUORVEL_MEETING_HOST", m_server.HostPort().c_str());
    m_dialog.SendCommand(IDC_REFRESH);
    ASSERT_EQ(Meetings()->GetItemCount(), 4);
    EXPECT_FALSE(m_dialog.GetDlgItem(IDC_WAITING)->IsShown());
    EXPECT_TRUE(m_dialog.GetDlgItem(IDC_DISK_SPACE)->IsShown());
    SetEnv("QUORVEL_RESOURCE_HOST", hostile.HostPort().c_str());
    Choose(0);
    EXPECT_EQ(Contents()->GetItemCount(), 0);
    EXPECT_EQ(Label(m_dialog, IDC_WAITING), "内容列表获取失败");
    EXPECT_FALSE(m_dialog.GetDlgItem(IDOK)->IsEnabled());
}

// The release that ends a double-click is not a second click.
TEST_F(MainDlgTest, ADoubleClickOnAMeetingFetchesOnce)
{
    Open();
    wxWindow* rows = ListRowsWindow(Meetings());
    wxPoint at = OnFirstRow(Meetings());
    Select(Meetings(), 0);
    for (wxEventType type : {wxEVT_LEFT_DOWN, wxEVT_LEFT_UP, wxEVT_LEFT_DCLICK, wxEVT_LEFT_UP}) {
        wxMouseEvent event(type);
        event.SetPosition(at);
        event.SetEventObject(rows);
        rows->GetEventHandler()->ProcessEvent(event);
        PumpEvents();
        WaitForFetch();
    }
    EXPECT_EQ(ResourceRequests(), 1u);
    EXPECT_EQ(Contents()->GetItemCount(), 5);
}

TEST_F(MainDlgTest, TwoRefreshesLeaveOneSetOfMeetings)
{
    Open();
    m_dialog.SendCommand(IDC_REFRESH);
    m_dialog.SendCommand(IDC_REFRESH);
    EXPECT_EQ(Meetings()->GetItemCount(), 4);
    EXPECT_EQ(m_dialog.MeetingIds().size(), 4u);
}

TEST_F(MainDlgTest, ADoubleClickPutsExactlyTheUrlOnTheClipboard)
{
    Open();
    Choose(0);
    Select(Contents(), 1);
    m_dialog.OnContentDblClk();
    ASSERT_TRUE(wxTheClipboard->Open());
    wxTextDataObject text;
    ASSERT_TRUE(wxTheClipboard->GetData(text));
    wxTheClipboard->Close();
    EXPECT_EQ(text.GetText().utf8_string(),
              "http://" + m_server.HostPort() + "/files/m-2001/%E4%B8%BB%E9%A2%98%E6%BC%94%E8%AE%B2.pdf");
}

TEST_F(MainDlgTest, TheWaitingTextSlidesTwoSpacesATickAndWrapsAfterForty)
{
    SetEnv("QUORVEL_RESOURCE_HOST", m_slow.HostPort().c_str());
    Open();
    Select(Meetings(), 0);
    m_dialog.OnMeetingClick();
    const std::string waiting = ">>>>>>正在获取缓存列表请稍候>>>>>>";
    EXPECT_EQ(Label(m_dialog, IDC_WAITING), waiting);
    m_dialog.OnTimer(CMainDlg::kFetchTimerId);
    EXPECT_EQ(Label(m_dialog, IDC_WAITING), "  " + waiting);
    for (int tick = 2; tick <= 39; ++tick)
        m_dialog.OnTimer(CMainDlg::kFetchTimerId);
    EXPECT_EQ(Label(m_dialog, IDC_WAITING), std::string(78, ' ') + waiting);
    m_dialog.OnTimer(CMainDlg::kFetchTimerId);
    EXPECT_EQ(Label(m_dialog, IDC_WAITING), waiting);
    WaitForFetch();
}

// A large meeting's list (signed URLs) passes 512 KiB: lists up to 16 MiB
// are taken, a larger one fails as any unusable answer does.
TEST_F(MainDlgTest, AResourceListUpTo16MiBIsTaken)
{
    const std::string head = R"({"code":0,"data":[{"url":"http://h/a.bin","name":"a","note":")";
    const std::string tail = R"("}]})";
    std::atomic<size_t> answerSize{0};
    LoopbackServer large;
    large.Routes().Get("/resource/get_list", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(head + std::string(answerSize - head.size() - tail.size(), 'x') + tail, "application/json");
    });
    large.Start();
    SetEnv("QUORVEL_RESOURCE_HOST", large.HostPort().c_str());
    Open();
    struct Case {
        size_t size;
        int rows;
    } cases[] = {{600 << 10, 1}, {(16 << 20) - 1, 1}, {16 << 20, 0}};
    for (const Case& c : cases) {
        answerSize = c.size;
        Choose(0);
        EXPECT_EQ(Contents()->GetItemCount(), c.rows) << c.size;
        EXPECT_EQ(m_dialog.GetDlgItem(IDC_WAITING)->IsShown(), c.rows == 0) << c.size;
    }
}

// Escape while the resource service takes the connection and never
// answers: the waiting request is stopped, the window closes at once.
TEST_F(MainDlgTest, ClosingDuringASilentResourceRequestReturnsAtOnce)
{
    SilentListener silent;
    SetEnv("QUORVEL_RESOURCE_HOST", silent.HostPort().c_str());
    CMainDlg dialog;
    dialog.SetCompany("qv-1001");
    std::chrono::steady_clock::duration closing{};
    int result = RunModal(dialog, [&] {
        Select(dialog.GetList(IDC_MEETING_LIST), 0);
        dialog.OnMeetingClick();
        ASSERT_TRUE(Eventually([&] { return silent.Connections() > 0; }));
        auto start = std::chrono::steady_clock::now();
        dialog.SendCommand(IDCANCEL);
        closing = std::chrono::steady_clock::now() - start;
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_LT(closing, 1s);
    PumpEvents();
}

// Closing while the worker fetches: it is waited for, nothing hangs, and
// its late answer never reaches the window.
TEST_F(MainDlgTest, ClosingDuringAFetchNeitherHangsNorCrashes)
{
    SetEnv("QUORVEL_RESOURCE_HOST", m_slow.HostPort().c_str());
    for (int round = 0; round < 15; ++round) {
        CMainDlg dialog;
        dialog.SetCompany("qv-1001");
        int result = RunModal(dialog, [&] {
            Select(dialog.GetList(IDC_MEETING_LIST), round % 4);
            dialog.OnMeetingClick();
            if (round % 3 == 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(round * 20));
            dialog.SendCommand(IDCANCEL);  // as Escape and the close box do
            EXPECT_TRUE(dialog.Items().empty());
            EXPECT_TRUE(dialog.MeetingIds().empty());
        });
        EXPECT_EQ(result, IDCANCEL);
        PumpEvents();
    }
}

}  // namespace
