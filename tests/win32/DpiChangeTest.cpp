// A window moved to a display of other scaling lays itself out again at
// that DPI (fonts, dialog units, icons). Windows sends a per-monitor aware
// window WM_DPICHANGED, on which wx gives every control the font at the new
// DPI and sends wxEVT_DPI_CHANGED (MSWUpdateOnDPIChange), then moves the
// window to the suggested rectangle. Wine 8 makes no process per-monitor
// aware and sends no such message: the test runs wx's step itself (under
// Wine that step leaves the fonts as they were; the layout is checked
// against the window's font as it is then).
#include <gtest/gtest.h>
#include <wx/dialog.h>
#include <wx/display.h>

#include "demo/DemoServices.h"
#include "framework/DialogUnits.h"
#include "res/resource.h"
#include "tests/support/Environment.h"
#include "tests/support/GuiTest.h"
#include "tests/support/LoopbackServer.h"
#include "ui/IconButton.h"
#include "ui/MainDlg.h"

namespace {

TEST(DpiChangeTest, TheMainWindowLaysItselfOutAgainAtTheNewScaling)
{
    LoopbackServer services;
    MountDemoServices(services.Routes());
    services.Start();
    SetEnv("QUORVEL_MEETING_HOST", services.HostPort().c_str());
    CMainDlg dialog;
    dialog.SetCompany("qv-1001");
    ASSERT_TRUE(dialog.Create());
    UnsetEnv("QUORVEL_MEETING_HOST");
    wxDialog* window = dialog.GetWindow();
    window->Show();
    PumpEvents();
    auto* button = dynamic_cast<CIconButton*>(dialog.GetDlgItem(IDC_REFRESH));
    ASSERT_NE(button, nullptr);
    const int icon = button->IconSize();
    const wxSize dpi = window->GetDPI();
    window->MSWUpdateOnDPIChange(dpi, dpi * 3 / 2);
    PumpEvents();

    EXPECT_EQ(button->IconSize(), icon * 3 / 2);
    DialogUnits du = DialogUnits::ForFont(window, window->GetFont());
    const ControlTemplate& list = *dialog.GetTemplate().Find(IDC_CONTENT_LIST);
    EXPECT_EQ(dialog.GetDlgItem(IDC_CONTENT_LIST)->GetSize().x, du.X(list.cx)) << "dialog units of the new font";
    int display = wxDisplay::GetFromWindow(window);
    wxRect area = wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
    EXPECT_TRUE(area.Contains(window->GetScreenRect()));
    wxRect client(window->GetClientSize());
    for (wxWindow* child : window->GetChildren())
        if (child->IsShown()) {
            EXPECT_TRUE(client.Contains(child->GetRect())) << "control " << child->GetId() << " is cut";
        }
    dialog.DestroyWindow();
}

}  // namespace
