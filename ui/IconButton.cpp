#include "ui/IconButton.h"

#include <wx/dcbuffer.h>
#include <wx/display.h>
#include <wx/settings.h>

#include "framework/Icons.h"

namespace {

wxColour Sys(wxSystemColour colour)
{
    return wxSystemSettings::GetColour(colour);
}

void Line(wxDC& dc, const wxColour& colour, int x1, int y1, int x2, int y2)
{
    dc.SetPen(wxPen(colour));
    dc.DrawLine(x1, y1, x2, y2);
}

// The push-button frame: raised, or sunken when pushed.
void DrawFrame(wxDC& dc, const wxRect& r, bool pushed)
{
    int l = r.x, t = r.y, right = r.GetRight(), b = r.GetBottom();
    wxColour outerLight = pushed ? Sys(wxSYS_COLOUR_3DDKSHADOW) : Sys(wxSYS_COLOUR_BTNHIGHLIGHT);
    wxColour outerDark = pushed ? Sys(wxSYS_COLOUR_BTNHIGHLIGHT) : Sys(wxSYS_COLOUR_3DDKSHADOW);
    wxColour innerDark = pushed ? Sys(wxSYS_COLOUR_3DLIGHT) : Sys(wxSYS_COLOUR_BTNSHADOW);
    Line(dc, outerLight, l, b, l, t);
    Line(dc, outerLight, l, t, right, t);
    Line(dc, outerDark, right, t, right, b);
    Line(dc, outerDark, right, b, l - 1, b);
    Line(dc, innerDark, right - 1, t + 1, right - 1, b - 1);
    Line(dc, innerDark, right - 1, b - 1, l, b - 1);
}

// A dotted rectangle: every other pixel, as a focus rectangle is drawn.
void DrawFocusRect(wxDC& dc, const wxRect& r)
{
    dc.SetPen(wxPen(Sys(wxSYS_COLOUR_BTNTEXT)));
    for (int x = r.x; x <= r.GetRight(); x += 2) {
        dc.DrawPoint(x, r.y);
        dc.DrawPoint(x, r.GetBottom());
    }
    for (int y = r.y; y <= r.GetBottom(); y += 2) {
        dc.DrawPoint(r.x, y);
        dc.DrawPoint(r.GetRight(), y);
    }
}

// The caption without its first "&", and where that "&" stood (-1: none).
wxString StripMnemonic(const wxString& caption, int& mnemonic)
{
    mnemonic = caption.Find('&');
    if (mnemonic == wxNOT_FOUND)
        return caption;
    wxString text = caption;
    text.erase(mnemonic, 1);
    return text;
}

}  // namespace

CIconButton::CIconButton(wxWindow* parent, wxWindowID id, const wxString& caption, const wxPoint& pos,
                         const wxSize& size)
    : wxControl(parent, id, pos, size, wxBORDER_NONE | wxWANTS_CHARS), m_crText(Sys(wxSYS_COLOUR_BTNTEXT)),
      m_nIconSize(FromDIP(kIconPixels))
{
    wxControl::SetLabel(caption);
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &CIconButton::OnPaint, this);
    Bind(wxEVT_LEFT_DOWN, &CIconButton::OnLeftDown, this);
    Bind(wxEVT_LEFT_DCLICK, &CIconButton::OnDoubleClick, this);
    Bind(wxEVT_LEFT_UP, &CIconButton::OnLeftUp, this);
    Bind(wxEVT_MOTION, &CIconButton::OnMouseMove, this);
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { EndPress(); });
    Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& event) { OnKey(event, true); });
    Bind(wxEVT_KEY_UP, [this](wxKeyEvent& event) { OnKey(event, false); });
    Bind(wxEVT_SET_FOCUS, [this](wxFocusEvent& event) { event.Skip(); Refresh(); });
    Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& event) { event.Skip(); EndPress(); });
    Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
        event.Skip();
        m_nIconSize = wxMulDivInt32(kIconPixels, event.GetNewDPI().y, wxDisplay::GetStdPPIValue());
        Refresh();
    });
}

void CIconButton::SetLabel(const wxString& caption)
{
    wxControl::SetLabel(caption);
    Refresh();
}

void CIconButton::DrawItem(wxDC& dc, const wxRect& item, unsigned state) const
{
    const bool pressed = state & ODS_SELECTED, disabled = state & ODS_DISABLED;
    const int L = item.x, T = item.y, R = item.x + item.width, B = item.y + item.height;
    const int iw = m_nIconSize, ih = m_nIconSize;

    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(wxBrush(Sys(wxSYS_COLOUR_BTNFACE)));
    dc.DrawRectangle(item);
    DrawFrame(dc, item, pressed);

    int mnemonic = wxNOT_FOUND;
    wxString text = StripMnemonic(GetLabel(), mnemonic);
    dc.SetFont(GetFont());
    wxCoord tw = 0, th = 0;
    int x = 0, y = 0, ix = (R - iw) / 2, iy = (B - ih) / 2;
    if (!text.empty()) {
        dc.GetTextExtent(text, &tw, &th);
        x = m_nIconId ? (R - iw) / 2 - tw / 2 + iw : R / 2 - tw / 2;
        y = B / 2 - th / 2;
        ix = 6;
        iy = (B - ih - T + 1) / 2;
    }
    if (pressed) {
        ++x, ++y, ++ix, ++iy;
    }

    dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    wxIcon icon = m_nIconId ? LoadIcon(m_nIconId & 0xFFFF, m_nIconSize) : wxIcon();
    if (disabled) {
        // Embossed: a light copy one pixel down-right under a shadow copy.
        dc.SetTextForeground(Sys(wxSYS_COLOUR_BTNHIGHLIGHT));
        dc.DrawText(text, x + 1, y + 1);
        dc.SetTextForeground(Sys(wxSYS_COLOUR_BTNSHADOW));
        dc.DrawText(text, x, y);
        if (icon.IsOk())
            dc.DrawBitmap(wxBitmap(icon).ConvertToDisabled(), ix, iy, true);
    } else {
        dc.SetTextForeground(m_crText);
        dc.DrawText(text, x, y);
        if (icon.IsOk())
            dc.DrawIcon(icon, L + ix, T + iy);
    }

    if (state & ODS_FOCUS) {
        dc.SetPen(wxPen(Sys(wxSYS_COLOUR_3DDKSHADOW)));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(item);
        DrawFocusRect(dc, wxRect(item).Deflate(4));
    }
    if (pressed) {
        Line(dc, Sys(wxSYS_COLOUR_3DDKSHADOW), L, B - 1, L, T);
        Line(dc, Sys(wxSYS_COLOUR_3DDKSHADOW), L, T, R - 1, T);
        Line(dc, Sys(wxSYS_COLOUR_BTNHIGHLIGHT), R - 1, T, R - 1, B - 1);
        Line(dc, Sys(wxSYS_COLOUR_BTNHIGHLIGHT), R - 1, B - 1, L, B - 1);
    }
    if (mnemonic != wxNOT_FOUND && !text.empty() && !disabled && mnemonic < static_cast<int>(text.length())) {
        wxCoord pw = 0, cw = 0, h = 0;
        dc.GetTextExtent(text.Left(mnemonic), &pw, &h);
        dc.GetTextExtent(text.Mid(mnemonic, 1), &cw, &h);
        Line(dc, m_crText, x + pw, y + th, x + pw + cw, y + th);
    }
}

unsigned CIconButton::CurrentState() const
{
    unsigned state = 0;
    if (m_bPressed)
        state |= ODS_SELECTED;
    if (!IsEnabled())
        state |= ODS_DISABLED;
    if (HasFocus())
        state |= ODS_FOCUS;
    return state;
}

void CIconButton::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    DrawItem(dc, GetClientRect(), CurrentState());
}

void CIconButton::Click()
{
    wxCommandEvent click(wxEVT_BUTTON, GetId());
    click.SetEventObject(this);
    ProcessWindowEvent(click);
}

void CIconButton::EndPress()
{
    if (HasCapture())
        ReleaseMouse();
    if (m_bPressed) {
        m_bPressed = false;
        Refresh();
    }
}

void CIconButton::OnLeftDown(wxMouseEvent&)
{
    if (!IsEnabled())
        return;
    SetFocus();
    if (!HasCapture())
        CaptureMouse();
    m_bPressed = true;
    Refresh();
}

// The second press of a double-click is drawn as a press but, as for an
// owner-drawn button on Windows, its release is no second click.
void CIconButton::OnDoubleClick(wxMouseEvent& event)
{
    OnLeftDown(event);
    m_bDoubleClick = true;
}

void CIconButton::OnLeftUp(wxMouseEvent& event)
{
    bool click = m_bPressed && HasCapture() && GetClientRect().Contains(event.GetPosition()) && !m_bDoubleClick;
    m_bDoubleClick = false;
    EndPress();
    if (click)
        Click();
}

// Leaving the button while it is held ends the press for good.
void CIconButton::OnMouseMove(wxMouseEvent& event)
{
    if (HasCapture() && !GetClientRect().Contains(event.GetPosition()))
        EndPress();
    event.Skip();
}

void CIconButton::OnKey(wxKeyEvent& event, bool down)
{
    if (event.GetKeyCode() != WXK_SPACE || !IsEnabled()) {
        event.Skip();
        return;
    }
    if (down && !m_bPressed) {
        m_bPressed = true;
        Refresh();
    } else if (!down && m_bPressed) {
        m_bPressed = false;
        Refresh();
        Click();
    }
}
