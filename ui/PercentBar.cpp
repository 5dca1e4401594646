#include "ui/PercentBar.h"

#include <wx/dcbuffer.h>
#include <wx/settings.h>

CPercentBar::CPercentBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : wxControl(parent, id, pos, size, wxBORDER_NONE),
      m_crBar(wxSystemSettings::GetColour(wxSYS_COLOUR_HIGHLIGHT)),
      m_crBack(wxSystemSettings::GetColour(wxSYS_COLOUR_WINDOW)),
      m_crTextOnBack(m_crBar),
      m_crTextOnBar(m_crBack)
{
    // Every pixel is painted here: no background erase, no flicker.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CPercentBar::OnPaint, this);
    Bind(wxEVT_SIZE, &CPercentBar::OnSize, this);
}

double CPercentBar::Fraction() const
{
    return static_cast<double>(m_nPos - m_nLower) / static_cast<double>(m_nUpper - m_nLower);
}

int CPercentBar::SetPos(int pos)
{
    int old = m_nPos;
    m_nPos = pos;
    int width = static_cast<int>(Fraction() * GetClientSize().GetWidth());
    if (width != m_nFilledWidth) {
        m_nFilledWidth = width;
        ++m_nRedraws;
        Refresh();
        Update();
    }
    return old;
}

void CPercentBar::SetLabel(const wxString& text)
{
    if (text == m_strText)
        return;
    m_strText = text;
    Refresh();
}

wxString CPercentBar::DisplayText() const
{
    if (!m_strText.empty())
        return m_strText;
    return wxString::Format("%d%%", static_cast<int>(Fraction() * 100));
}

void CPercentBar::PaintBar(wxDC& dc, const wxRect& client) const
{
    wxRect filled = client;
    filled.width = static_cast<int>(client.width * Fraction());
    filled.width = std::max(0, std::min(filled.width, client.width));
    wxRect empty = client;
    empty.x = filled.GetRight() + 1;
    empty.width = client.GetRight() - empty.x + 1;

    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(m_crBar));
    dc.DrawRectangle(filled);
    dc.SetBrush(wxBrush(m_crBack));
    dc.DrawRectangle(empty);

    // The same text twice, each time clipped to one part in that part's
    // text colour: a glyph over the edge shows half in each.
    dc.SetFont(GetFont());
    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    wxString text = DisplayText();
    for (const auto& [part, colour] : {std::pair(filled, m_crTextOnBar), std::pair(empty, m_crTextOnBack)}) {
        if (part.width <= 0)
            continue;
        wxDCClipper clip(dc, part);
        dc.SetTextForeground(colour);
        dc.DrawLabel(text, client, wxALIGN_CENTRE);
    }
}

void CPercentBar::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    PaintBar(dc, GetClientRect());
}

void CPercentBar::OnSize(wxSizeEvent& event)
{
    event.Skip();
    m_nFilledWidth = -1;
}
