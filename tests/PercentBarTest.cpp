#include <gtest/gtest.h>
#include <wx/dcmemory.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/panel.h>
#include <wx/settings.h>

#include "res/resource.h"
#include "tests/support/GuiTest.h"
#include "ui/MainDlg.h"
#include "ui/PercentBar.h"

namespace {

// The system colours exist only once the toolkit runs.
wxColour BarColour()
{
    return wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT);
}

wxColour BackColour()
{
    return wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW);
}

class PercentBarTest : public ::testing::Test {
protected:
    PercentBarTest()
        : m_frame(new wxFrame(nullptr, wxID_ANY, "bar")),
          // On a panel: a frame would stretch its only child over its client
          // area whenever the frame's size is told again (Wine tells it late).
          m_bar(new CPercentBar(new wxPanel(m_frame), IDC_PROGRESS, wxPoint(0, 0), wxSize(200, 40)))
    {
        m_frame->SetClientSize(300, 100);
        m_frame->Show();
        PumpEvents();
    }
    ~PercentBarTest() override { delete m_frame; }

    // The bar painted off-screen at `width` × 40 pixels.
    wxImage Render(int width)
    {
        wxBitmap bitmap(width, 40);
        {
            wxMemoryDC dc(bitmap);
            m_bar->PaintBar(dc, wxRect(0, 0, width, 40));
        }
        return bitmap.ConvertToImage();
    }

    static wxColour At(const wxImage& image, int x, int y)
    {
        return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
    }

    // Columns filled in the bar colour, judged on the first row (no text).
    static int FilledColumns(const wxImage& image)
    {
        int filled = 0;
        while (filled < image.GetWidth() && At(image, filled, 0) == BarColour())
            ++filled;
        for (int x = filled; x < image.GetWidth(); ++x)
            EXPECT_EQ(At(image, x, 0), BackColour()) << "column " << x;
        return filled;
    }

    // Text drawn over a part: pixels other than that part's colour
    // (glyph edges are blended, so only their presence is certain).
    static bool HasText(const wxImage& image, int fromX, int toX, const wxColour& partColour)
    {
        for (int x = fromX; x < toX; ++x)
            for (int y = 1; y < image.GetHeight() - 1; ++y)
                if (At(image, x, y) != partColour)
                    return true;
        return false;
    }

    wxFrame* m_frame;
    CPercentBar* m_bar;
};

TEST_F(PercentBarTest, FillsTheTruncatedShareOfTheWidth)
{
    m_bar->SetPos(0);
    EXPECT_EQ(FilledColumns(Render(200)), 0);
    EXPECT_EQ(m_bar->DisplayText(), "0%");
    m_bar->SetPos(42);
    wxImage image = Render(200);
    EXPECT_EQ(FilledColumns(image), 84);
    EXPECT_EQ(m_bar->DisplayText(), "42%");
    // "42%" stands right of the filled part, nothing of it over the filled part.
    EXPECT_TRUE(HasText(image, 85, 200, BackColour()));
    EXPECT_FALSE(HasText(image, 0, 84, BarColour()));
    m_bar->SetPos(100);
    EXPECT_EQ(FilledColumns(Render(200)), 200);
    m_bar->SetPos(150);
    EXPECT_EQ(m_bar->GetPos(), 150);
    EXPECT_EQ(FilledColumns(Render(200)), 200);
    EXPECT_EQ(m_bar->DisplayText(), "150%");
}

TEST_F(PercentBarTest, DrawsTheTextInTwoColoursAcrossTheEdge)
{
    m_bar->SetPos(50);
    wxImage image = Render(200);
    EXPECT_EQ(FilledColumns(image), 100);
    EXPECT_TRUE(HasText(image, 80, 100, BarColour())) << "text over the filled part";
    EXPECT_TRUE(HasText(image, 100, 120, BackColour())) << "text over the empty part";
    // Over the filled part the text is the window colour: its darkest pixel
    // is no darker than the bar itself.
    int barLevel = BarColour().Red() + BarColour().Green() + BarColour().Blue();
    for (int x = 80; x < 100; ++x)
        for (int y = 1; y < 39; ++y)
            EXPECT_GE(At(image, x, y).Red() + At(image, x, y).Green() + At(image, x, y).Blue(), barLevel);
}

TEST_F(PercentBarTest, ShowsTheTruncatedDoubleProduct)
{
    const std::pair<int, const char*> cases[] = {{29, "28%"}, {57, "56%"}, {58, "57%"}, {33, "33%"}, {1, "1%"}};
    for (auto [pos, text] : cases) {
        m_bar->SetPos(pos);
        EXPECT_EQ(m_bar->DisplayText(), text);
    }
    m_bar->SetPos(29);
    EXPECT_EQ(FilledColumns(Render(100)), 28);
}

TEST_F(PercentBarTest, RepaintsOnlyWhenTheFilledWidthChanges)
{
    m_bar->SetSize(50, 40);
    m_bar->SetPos(10);
    int redraws = m_bar->RedrawCount();
    EXPECT_EQ(m_bar->SetPos(11), 10);  // 5.5 px → still 5
    EXPECT_EQ(m_bar->RedrawCount(), redraws);
    m_bar->SetPos(12);                 // 6 px
    EXPECT_EQ(m_bar->RedrawCount(), redraws + 1);
    m_bar->SetSize(60, 40);
    m_bar->SetPos(12);                 // a resize forgets the width: one repaint
    EXPECT_EQ(m_bar->RedrawCount(), redraws + 2);
    m_bar->SetPos(12);
    EXPECT_EQ(m_bar->RedrawCount(), redraws + 2);
}

TEST_F(PercentBarTest, ALabelReplacesThePercentageUntilEmptied)
{
    m_bar->SetPos(42);
    m_bar->SetLabel(wxString::FromUTF8("已完成"));
    EXPECT_EQ(m_bar->DisplayText().utf8_string(), "已完成");
    EXPECT_EQ(m_bar->GetLabel().utf8_string(), "已完成");
    m_bar->SetLabel("");
    EXPECT_EQ(m_bar->DisplayText(), "42%");
    EXPECT_EQ(m_bar->GetLabel(), "");
}

TEST(MainWindowControls, TheProgressBarIsAPercentBar)
{
    CMainDlg dialog;
    ASSERT_TRUE(dialog.Create());
    ASSERT_NE(dialog.GetProgressBar(), nullptr);
    EXPECT_EQ(dialog.GetProgressBar()->GetPos(), 0);
    dialog.DestroyWindow();
    EXPECT_EQ(dialog.GetProgressBar(), nullptr);
}

}  // namespace
