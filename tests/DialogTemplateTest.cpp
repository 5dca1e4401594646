#include <atomic>
#include <gtest/gtest.h>
#include <thread>
#include <wx/dialog.h>

#include "framework/Dialog.h"
#include "framework/DialogUnits.h"
#include "framework/LocalText.h"
#include "res/resource.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LocaleScope.h"

namespace {

class TemplateTest : public ::testing::TestWithParam<int> {};

// Every control of the template stands where its dialog units say, with its
// text and its initial states.
TEST_P(TemplateTest, BuildsEveryControlAsTheTemplateSays)
{
    CDialog dialog(GetParam());
    ASSERT_TRUE(dialog.Create());
    const DialogTemplate& t = dialog.GetTemplate();
    wxDialog* window = dialog.GetWindow();
    DialogUnits du = DialogUnits::ForFont(window, window->GetFont());
    EXPECT_EQ(window->GetTitle().utf8_string(), t.caption);
    EXPECT_EQ(window->GetClientSize(), wxSize(du.X(t.cx), du.Y(t.cy)));

    const wxWindowList& children = window->GetChildren();
    ASSERT_EQ(children.size(), t.controls.size());
    size_t i = 0;
    for (wxWindow* child : children) {
        const ControlTemplate& c = t.controls[i++];
        SCOPED_TRACE(testing::Message() << "control " << c.id << " " << c.text);
        if (c.id != IDC_STATIC) {
            EXPECT_EQ(child->GetId(), c.id);
            EXPECT_EQ(dialog.GetDlgItem(c.id), child);
        }
        wxRect r = child->GetRect();
        EXPECT_EQ(r.x, du.X(c.x));
        EXPECT_EQ(r.width, du.X(c.cx));
        // Texts stand in the middle of their rectangle, as high as they
        // need; a combo box's height in a template is that of its dropped
        // list, and Windows shows it closed, as high as its font needs.
        if (c.kind == ControlKind::Static || c.kind == ControlKind::Edit) {
            EXPECT_LE(r.height, du.Y(c.cy));
            EXPECT_NEAR(2 * r.y + r.height, 2 * du.Y(c.y) + du.Y(c.cy), 1);
        } else if (c.kind == ControlKind::ComboBox) {
            EXPECT_EQ(r.y, du.Y(c.y));
            EXPECT_LE(r.height, du.Y(c.cy));
        } else {
            EXPECT_EQ(r, wxRect(du.X(c.x), du.Y(c.y), du.X(c.cx), du.Y(c.cy)));
        }
        EXPECT_EQ(child->IsShown(), !(c.style & CTL_HIDDEN));
        EXPECT_EQ(child->IsEnabled(), !(c.style & CTL_DISABLED));
        if (c.kind != ControlKind::Edit && c.kind != ControlKind::ComboBox &&
            c.kind != ControlKind::ListView && c.kind != ControlKind::ProgressBar) {
            EXPECT_EQ(child->GetLabel().utf8_string(), c.text);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, TemplateTest, ::testing::Values(IDD_MAIN_DIALOG, IDD_LOGIN_DIALOG),
                         [](const auto& info) { return info.param == IDD_MAIN_DIALOG ? "main" : "login"; });

TEST(DialogUnits, ConvertLikeWindowsMulDiv)
{
    DialogUnits du;
    du.baseX = 7;
    du.baseY = 15;
    EXPECT_EQ(du.X(396), 693);
    EXPECT_EQ(du.Y(322), 604);  // 603.75 rounds up
    EXPECT_EQ(du.X(2), 4);      // 3.5 rounds half away from zero
    EXPECT_EQ(du.Y(0), 0);
}

// The main window on a 1366 x 768 laptop: its work area is about 1366 x 720,
// of which the title bar takes some 36 px. Run under C.UTF-8 and, as a test
// of its own, under zh_CN.GBK: the size must not depend on the locale.
TEST(MainWindowSize, FitsASmallLaptopScreenUnderEveryLocale)
{
    CDialog dialog(IDD_MAIN_DIALOG);
    ASSERT_TRUE(dialog.Create());
    wxSize size = dialog.GetWindow()->GetClientSize();
    dialog.DestroyWindow();
    EXPECT_EQ(size, wxSize(693, 684)) << "base units of 7 x 17 px";
    EXPECT_LE(size.x, 1366);
    EXPECT_LE(size.y + 36, 720);
}

class CountingDialog : public CDialog {
public:
    CountingDialog() : CDialog(IDD_LOGIN_DIALOG) {}
    std::atomic<int> received{0};
    WPARAM lastWParam = 0;

protected:
    void HandleMessage(UINT msg, WPARAM wParam, LPARAM) override
    {
        if (msg == WM_USER + 100) {
            lastWParam = wParam;
            ++received;
        }
    }
};

TEST(DialogMessages, PostedFromAWorkerArriveOnTheUiThreadUntilTheWindowCloses)
{
    CountingDialog dialog;
    ASSERT_TRUE(dialog.Create());
    HWND hwnd = dialog.GetSafeHwnd();
    std::thread worker([hwnd] {
        for (int i = 0; i < 10; ++i)
            PostMessageA(hwnd, WM_USER + 100, 4, 0);
    });
    worker.join();
    EXPECT_EQ(dialog.received, 0) << "delivered only when the UI thread runs";
    PumpEvents();
    EXPECT_EQ(dialog.received, 10);
    EXPECT_EQ(dialog.lastWParam, 4u);

    PostMessageA(hwnd, WM_USER + 100, 2, 0);
    dialog.DestroyWindow();
    PumpEvents();
    EXPECT_EQ(dialog.received, 10) << "a message queued before the close is dropped";
    EXPECT_FALSE(PostMessageA(hwnd, WM_USER + 100, 2, 0));
}

// Texts in the local code page reach the control as the user reads them.
TEST(DialogTexts, LocalTextsShowAsTheUserReadsThem)
{
    CDialog dialog(IDD_LOGIN_DIALOG);
    ASSERT_TRUE(dialog.Create());
    USE_LOCALE(gbk, TestLocale::Gbk);
    dialog.SetDlgItemText(IDOK, "\xB5\xC7\xC2\xBC");  // 登录 in GBK
    EXPECT_EQ(dialog.GetDlgItem(IDOK)->GetLabel().utf8_string(), "登录");
    EXPECT_EQ(dialog.GetDlgItemText(4242), "");
}

}  // namespace
