// The windows on the screen they open on: inside its work area at the
// display's scaling (scripts run these cases again at 150 % on 1920 x 1080
// and 100 % on 1366 x 768), and their texts placed as the operator reads
// them under the system's own fonts.
#include <algorithm>
#include <gtest/gtest.h>
#include <wx/dcclient.h>
#include <wx/dcmemory.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/textctrl.h>

#include "framework/Dialog.h"
#include "framework/LocalText.h"
#include "res/resource.h"
#include "tests/support/Eventually.h"
#include "tests/support/GuiTest.h"

namespace {

std::string Describe(const wxRect& r)
{
    return std::to_string(r.width) + "x" + std::to_string(r.height) + " at " + std::to_string(r.x) + "," +
           std::to_string(r.y);
}

wxRect WorkArea(wxWindow* window)
{
    int display = wxDisplay::GetFromWindow(window);
    return wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
}

class WindowFitTest : public ::testing::TestWithParam<int> {};

TEST_P(WindowFitTest, LiesInsideTheWorkAreaWithEveryControlInside)
{
    CDialog dialog(GetParam());
    ASSERT_TRUE(dialog.Create());
    wxDialog* window = dialog.GetWindow();
    window->Show();
    PumpEvents();
    wxRect area = WorkArea(window), frame = window->GetScreenRect();
    EXPECT_TRUE(area.Contains(frame)) << "window " << Describe(frame) << ", work area " << Describe(area);
    wxRect client(window->GetClientSize());
    for (wxWindow* child : window->GetChildren())
        if (child->IsShown()) {
            EXPECT_TRUE(client.Contains(child->GetRect()))
                << "control " << child->GetId() << " " << Describe(child->GetRect()) << " in " << Describe(client);
        }
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowFitTest, ::testing::Values(IDD_MAIN_DIALOG, IDD_LOGIN_DIALOG),
                         [](const auto& info) { return info.param == IDD_MAIN_DIALOG ? "main" : "login"; });

// Where `area` (client coordinates of `window`) holds text, as the screen
// shows it: the bounds of the pixels that differ from the area's corner.
wxRect Ink(wxWindow* window, const wxRect& area)
{
    wxBitmap bitmap(area.width, area.height);
    {
        wxClientDC shown(window);
        wxMemoryDC dc(bitmap);
        dc.Blit(0, 0, area.width, area.height, &shown, area.x, area.y);
    }
    wxImage image = bitmap.ConvertToImage();
    auto background = [&](int x, int y) {
        return image.GetRed(x, y) == image.GetRed(0, 0) && image.GetGreen(x, y) == image.GetGreen(0, 0) &&
               image.GetBlue(x, y) == image.GetBlue(0, 0);
    };
    wxRect ink;
    for (int y = 0; y < area.height; ++y)
        for (int x = 0; x < area.width; ++x)
            if (!background(x, y))
                ink.Union(wxRect(area.x + x, area.y + y, 1, 1));
    return ink;
}

// The ink once `painted` holds of it: the screen shows a window's text
// some time after it is shown.
template <typename Painted>
wxRect InkOnceShown(wxWindow* window, const wxRect& area, Painted painted)
{
    wxRect ink;
    Eventually([&] {
        PumpEvents();
        ink = Ink(window, area);
        return painted(ink);
    }, std::chrono::seconds(5));
    EXPECT_FALSE(ink.IsEmpty()) << "no text in " << Describe(area);
    return ink;
}

// Twice the middle row of a rectangle, so that odd heights stay exact.
int Middle2(const wxRect& r)
{
    return 2 * r.y + r.height - 1;
}

void ShowAndPaint(CDialog& dialog)
{
    dialog.GetWindow()->Show();
    dialog.GetWindow()->Raise();
    PumpEvents();
    dialog.GetWindow()->Update();
}

TEST(WindowTextTest, TheElapsedTimeLabelSitsOnTheLineOfItsValue)
{
    CDialog dialog(IDD_MAIN_DIALOG);
    ASSERT_TRUE(dialog.Create());
    // CJK text of one font in both: their ink has one height.
    dialog.SetDlgItemText(IDC_ELAPSED, WxToLocal(wxString::FromUTF8("缓存完成")));
    ShowAndPaint(dialog);
    // Four characters, five with the colon.
    auto painted = [](const wxRect& ink) { return ink.width > 3 * ink.height; };
    wxRect label = InkOnceShown(dialog.GetWindow(), dialog.GetDlgItem(IDC_ELAPSED_LABEL)->GetRect(), painted);
    wxRect value = InkOnceShown(dialog.GetWindow(), dialog.GetDlgItem(IDC_ELAPSED)->GetRect(), painted);
    EXPECT_NEAR(Middle2(label), Middle2(value), 2 * 2) << "label " << Describe(label) << ", value " << Describe(value);
}

// As typed: the caret at the end of the address, then the focus elsewhere.
TEST(WindowTextTest, TheAccountFieldShowsTheWholeAddressInItsMiddle)
{
    CDialog dialog(IDD_LOGIN_DIALOG);
    ASSERT_TRUE(dialog.Create());
    auto* edit = dynamic_cast<wxTextCtrl*>(dialog.GetDlgItem(IDC_USERNAME));
    ASSERT_NE(edit, nullptr);
    const wxString address = "demo@quorvel.test";
    edit->ChangeValue(address);
    edit->SetInsertionPointEnd();
    LeaveControl(dialog, IDC_USERNAME);
    dialog.GetDlgItem(IDOK)->SetFocus();
    ShowAndPaint(dialog);
    // Inside the field's border and margins, where only its text is drawn.
    wxRect field = edit->GetRect();
    wxRect inside = wxRect(field).Deflate(4);
    const int whole = edit->GetTextExtent(address).x - 4;
    wxRect ink = InkOnceShown(dialog.GetWindow(), inside, [&](const wxRect& r) { return r.width >= whole; });
    EXPECT_GE(ink.width, whole) << "the address is cut: " << Describe(ink);
    EXPECT_NEAR(Middle2(ink), Middle2(field), 2 * 2) << "text " << Describe(ink) << " in " << Describe(field);
}

}  // namespace
