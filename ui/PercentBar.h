// CPercentBar: the main window's progress bar (control 1032), painted by
// itself: the filled part in the selection colour, the rest in the window
// colour, and across the middle the percentage (or a text set with
// SetLabel) drawn in two colours, so it stays readable where the filled part
// passes under it. UI thread only.
#pragma once

#include <wx/control.h>

class CPercentBar : public wxControl {
public:
    CPercentBar(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size);

    // Stores `pos` unclamped and repaints at once, but only when the filled
    // width changes by a whole pixel. Returns the previous position.
    int SetPos(int pos);
    int GetPos() const { return m_nPos; }

    // A text shown instead of the percentage; empty brings the percentage
    // back. GetLabel returns that text, never the percentage.
    void SetLabel(const wxString& text) override;
    wxString GetLabel() const override { return m_strText; }

    // What the bar shows in its middle: the text, or "%d%%".
    wxString DisplayText() const;
    // Paints the whole bar for a client area of `client` into `dc`.
    void PaintBar(wxDC& dc, const wxRect& client) const;
    // Repaints that SetPos asked for, for diagnostics and tests.
    int RedrawCount() const { return m_nRedraws; }

protected:
    wxSize DoGetBestClientSize() const override { return wxSize(100, 16); }

private:
    double Fraction() const;
    void OnPaint(wxPaintEvent& event);
    void OnSize(wxSizeEvent& event);

    int m_nPos = 0;
    const int m_nUpper = 100;
    const int m_nLower = 0;
    wxString m_strText;
    int m_nFilledWidth = -1;  // at the last repaint request; -1 after a resize
    int m_nRedraws = 0;
    wxColour m_crBar;
    wxColour m_crBack;
    wxColour m_crTextOnBack;
    wxColour m_crTextOnBar;
};
