#include <set>
#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/settings.h>

#include "framework/Icons.h"
#include "res/resource.h"
#include "tests/support/GuiTest.h"
#include "ui/IconButton.h"

namespace {

wxColour Sys(wxSystemColour colour)
{
    return wxSystemSettings::GetColour(colour);
}

class IconButtonTest : public ::testing::Test {
protected:
    IconButtonTest()
        : m_frame(new wxFrame(nullptr, wxID_ANY, "buttons")),
          // On a panel: a frame would stretch its only child over its client area.
          m_button(new CIconButton(new wxPanel(m_frame), 1006, wxString::FromUTF8("Quorvel刷新"), wxPoint(10, 10),
                                   wxSize(120, 50)))
    {
        m_frame->SetClientSize(300, 100);
        m_frame->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) { m_clicks += event.GetId() == 1006; });
        m_frame->Show();
        PumpEvents();
    }
    ~IconButtonTest() override { delete m_frame; }

    wxImage Render(unsigned state, int width = 120, int height = 50)
    {
        wxBitmap bitmap(width, height);
        {
            wxMemoryDC dc(bitmap);
            m_button->DrawItem(dc, wxRect(0, 0, width, height), state);
        }
        return bitmap.ConvertToImage();
    }

    static wxColour At(const wxImage& image, int x, int y)
    {
        return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
    }

    // Columns that hold anything but the face colour, inside the frame.
    static std::pair<int, int> InkColumns(const wxImage& image)
    {
        int first = image.GetWidth(), last = -1;
        for (int x = 3; x < image.GetWidth() - 3; ++x)
            for (int y = 3; y < image.GetHeight() - 3; ++y)
                if (At(image, x, y) != Sys(wxSYS_COLOUR_BTNFACE)) {
                    first = std::min(first, x);
                    last = std::max(last, x);
                }
        return {first, last};
    }

    void Mouse(wxEventType type, int x, int y)
    {
        wxMouseEvent event(type);
        event.SetPosition(wxPoint(x, y));
        event.SetEventObject(m_button);
        m_button->GetEventHandler()->ProcessEvent(event);
    }

    wxFrame* m_frame;
    CIconButton* m_button;
    int m_clicks = 0;
};

// Every opaque pixel of the icon stands at (6 + x, 9 + y): 9 is (50 - 32 + 1) / 2.
TEST_F(IconButtonTest, DrawsTheIconAtSixAndTheCaptionCentredInTheRest)
{
    m_button->m_nIconId = IDI_REFRESH;
    wxImage image = Render(0);
    wxImage icon = wxBitmap(LoadIcon(IDI_REFRESH)).ConvertToImage();
    int opaque = 0;
    for (int x = 0; x < 32; ++x)
        for (int y = 0; y < 32; ++y)
            if (!icon.IsTransparent(x, y)) {
                ++opaque;
                ASSERT_EQ(At(image, 6 + x, 9 + y), wxColour(icon.GetRed(x, y), icon.GetGreen(x, y), icon.GetBlue(x, y)));
            }
    EXPECT_GT(opaque, 100);
    auto [first, last] = InkColumns(image);
    EXPECT_GT(last, 60) << "the caption lies right of the icon";
}

TEST_F(IconButtonTest, AnEmptyCaptionCentresTheIconAlone)
{
    m_button->m_nIconId = IDI_REFRESH;
    m_button->SetLabel("");
    auto [first, last] = InkColumns(Render(0));
    EXPECT_GE(first, (120 - 32) / 2);
    EXPECT_LE(last, (120 - 32) / 2 + 31);
}

TEST_F(IconButtonTest, WithoutAnIconTheCaptionIsCentredInTheWholeButton)
{
    m_button->m_nIconId = 0;
    auto [first, last] = InkColumns(Render(0));
    EXPECT_NEAR((first + last) / 2.0, 60, 2);
}

TEST_F(IconButtonTest, PressedShiftsTheContentAndSinksTheEdge)
{
    m_button->m_nIconId = IDI_REFRESH;
    wxImage normal = Render(0), pressed = Render(CIconButton::ODS_SELECTED);
    for (int x = 8; x < 36; ++x)
        for (int y = 11; y < 39; ++y)
            ASSERT_EQ(At(pressed, x + 1, y + 1), At(normal, x, y)) << x << "," << y;
    EXPECT_EQ(At(pressed, 0, 10), Sys(wxSYS_COLOUR_3DDKSHADOW));
    EXPECT_EQ(At(pressed, 60, 0), Sys(wxSYS_COLOUR_3DDKSHADOW));
    EXPECT_EQ(At(pressed, 119, 10), Sys(wxSYS_COLOUR_BTNHIGHLIGHT));
    EXPECT_EQ(At(pressed, 60, 49), Sys(wxSYS_COLOUR_BTNHIGHLIGHT));
}

TEST_F(IconButtonTest, DisabledIsEmbossedWithoutTextColour)
{
    m_button->m_nIconId = IDI_REFRESH;
    wxImage enabled = Render(0), disabled = Render(CIconButton::ODS_DISABLED);
    bool iconChanged = false, textColour = false;
    for (int x = 0; x < 120; ++x)
        for (int y = 0; y < 50; ++y) {
            iconChanged |= x >= 6 && x < 38 && At(enabled, x, y) != At(disabled, x, y);
            textColour |= At(disabled, x, y) == Sys(wxSYS_COLOUR_BTNTEXT);
        }
    EXPECT_TRUE(iconChanged) << "the icon is greyed";
    EXPECT_FALSE(textColour) << "no caption in the normal text colour";
}

TEST_F(IconButtonTest, FocusDrawsADottedRectangleFourPixelsInside)
{
    m_button->m_nIconId = 0;
    m_button->SetLabel("");
    wxImage image = Render(CIconButton::ODS_FOCUS);
    EXPECT_EQ(At(image, 4, 4), Sys(wxSYS_COLOUR_BTNTEXT));
    EXPECT_EQ(At(image, 6, 4), Sys(wxSYS_COLOUR_BTNTEXT));
    EXPECT_EQ(At(image, 5, 4), Sys(wxSYS_COLOUR_BTNFACE));
    EXPECT_EQ(At(image, 115, 20), Sys(wxSYS_COLOUR_BTNTEXT));
    EXPECT_EQ(At(image, 0, 20), Sys(wxSYS_COLOUR_3DDKSHADOW));
}

TEST_F(IconButtonTest, TheMnemonicIsUnderlinedOnlyWhenEnabled)
{
    m_button->m_nIconId = 0;
    m_button->SetLabel("Refresh");
    wxImage plain = Render(0), plainDisabled = Render(CIconButton::ODS_DISABLED);
    m_button->SetLabel("&Refresh");
    wxImage marked = Render(0), markedDisabled = Render(CIconButton::ODS_DISABLED);
    std::set<int> rows;
    int changed = 0;
    for (int x = 0; x < 120; ++x)
        for (int y = 0; y < 50; ++y)
            if (At(plain, x, y) != At(marked, x, y)) {
                changed += At(marked, x, y) == Sys(wxSYS_COLOUR_BTNTEXT);
                rows.insert(y);
            }
    EXPECT_GT(changed, 3) << "an underline in the text colour under the R";
    EXPECT_EQ(rows.size(), 1u) << "one straight line";
    for (int x = 0; x < 120; ++x)
        for (int y = 0; y < 50; ++y)
            ASSERT_EQ(At(plainDisabled, x, y), At(markedDisabled, x, y));
}

TEST_F(IconButtonTest, ClicksOnReleaseInsideButNotAfterLeaving)
{
    Mouse(wxEVT_LEFT_DOWN, 10, 10);
    Mouse(wxEVT_LEFT_UP, 10, 10);
    EXPECT_EQ(m_clicks, 1);

    Mouse(wxEVT_LEFT_DOWN, 10, 10);
    Mouse(wxEVT_MOTION, 200, 10);  // dragged off the button
    Mouse(wxEVT_MOTION, 10, 10);   // and back in
    Mouse(wxEVT_LEFT_UP, 10, 10);
    EXPECT_EQ(m_clicks, 1);

    Mouse(wxEVT_LEFT_DOWN, 10, 10);
    Mouse(wxEVT_LEFT_UP, 200, 10);  // released outside
    EXPECT_EQ(m_clicks, 1);
}

// A double-click on "开始缓存" must not start and stop the job at once.
TEST_F(IconButtonTest, ADoubleClickIsOneClick)
{
    Mouse(wxEVT_LEFT_DOWN, 10, 10);
    Mouse(wxEVT_LEFT_UP, 10, 10);
    Mouse(wxEVT_LEFT_DCLICK, 10, 10);
    Mouse(wxEVT_LEFT_UP, 10, 10);
    EXPECT_EQ(m_clicks, 1);
    Mouse(wxEVT_LEFT_DOWN, 10, 10);
    Mouse(wxEVT_LEFT_UP, 10, 10);
    EXPECT_EQ(m_clicks, 2) << "the next single click counts again";
}

TEST_F(IconButtonTest, SpaceClicksAndADisabledButtonDoesNot)
{
    wxKeyEvent down(wxEVT_KEY_DOWN), up(wxEVT_KEY_UP);
    down.m_keyCode = up.m_keyCode = WXK_SPACE;
    m_button->GetEventHandler()->ProcessEvent(down);
    m_button->GetEventHandler()->ProcessEvent(up);
    EXPECT_EQ(m_clicks, 1);
    m_button->Disable();
    Mouse(wxEVT_LEFT_DOWN, 10, 10);
    Mouse(wxEVT_LEFT_UP, 10, 10);
    m_button->GetEventHandler()->ProcessEvent(down);
    m_button->GetEventHandler()->ProcessEvent(up);
    EXPECT_EQ(m_clicks, 1);
}

}  // namespace
