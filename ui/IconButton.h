// CIconButton: a push button that paints itself: a 32×32 icon (at 100 %
// scaling; larger at the display's DPI) at its left
// edge and its caption centred in the rest (or the icon alone, centred), a
// raised 3-D frame, a pressed look (content one pixel right and down, sunken
// edge), an embossed disabled look, a focus rectangle 4 pixels inside, and
// the mnemonic letter (after the first "&") underlined.
//
// Clicks as a push button: press, release inside; dragging the pointer off
// a pressed button ends the press, so coming back does not click. Space
// clicks it while it has the focus. UI thread only.
#pragma once

#include <wx/control.h>

class CIconButton : public wxControl {
public:
    // Item state bits of a drawing, as the platform's draw-item record has them.
    enum : unsigned { ODS_SELECTED = 0x1, ODS_DISABLED = 0x4, ODS_FOCUS = 0x10 };

    CIconButton(wxWindow* parent, wxWindowID id, const wxString& caption, const wxPoint& pos,
                const wxSize& size);

    // Draws the button for an item rectangle and state bits into `dc`.
    void DrawItem(wxDC& dc, const wxRect& item, unsigned state) const;

    void SetLabel(const wxString& caption) override;
    bool AcceptsFocus() const override { return IsEnabled(); }

    unsigned m_nIconId = 0;  // icon resource; 0 for none. Set by the owner.
    // The icon's width and height in pixels.
    int IconSize() const { return m_nIconSize; }

protected:
    wxSize DoGetBestClientSize() const override { return wxSize(80, 40); }

private:
    unsigned CurrentState() const;
    void Click();
    void EndPress();
    void OnPaint(wxPaintEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnDoubleClick(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnMouseMove(wxMouseEvent& event);
    void OnKey(wxKeyEvent& event, bool down);

    wxColour m_crText;
    int m_nIconSize;  // pixels, at the DPI of the button's display
    bool m_bPressed = false;  // drawn pressed: held by the mouse or the space bar
    bool m_bDoubleClick = false;  // the press held is a double-click's second
};
