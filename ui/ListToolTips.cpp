#include "ui/ListToolTips.h"

#include <wx/listctrl.h>

namespace {

// Room a list cell keeps beside its text.
constexpr int kCellMargin = 8;

}  // namespace

// The rows fill the list below the header: the taller of its two windows.
wxWindow* ListRowsWindow(wxListCtrl* list)
{
    wxWindow* rows = list;
    for (wxWindow* child : list->GetChildren())
        if (rows == list || child->GetSize().y > rows->GetSize().y)
            rows = child;
    return rows;
}

wxString CutLabelAt(wxListCtrl* list, const wxPoint& at)
{
    int flags = 0;
    long row = list->HitTest(at, flags);
    if (row == wxNOT_FOUND)
        return wxString();
    int left = 0;
    for (int column = 0; column < list->GetColumnCount(); ++column) {
        int width = list->GetColumnWidth(column);
        if (at.x >= left && at.x < left + width) {
            wxString label = list->GetItemText(row, column);
            return list->GetTextExtent(label).x + kCellMargin > width ? label : wxString();
        }
        left += width;
    }
    return wxString();
}

void ShowCutLabelsInToolTips(wxListCtrl* list, RowToolTip rowTip)
{
    wxWindow* rows = ListRowsWindow(list);
    rows->Bind(wxEVT_MOTION, [list, rows, rowTip](wxMouseEvent& event) {
        event.Skip();
        wxString label = CutLabelAt(list, event.GetPosition());
        if (label.empty() && rowTip) {
            int flags = 0;
            long row = list->HitTest(event.GetPosition(), flags);
            if (row != wxNOT_FOUND)
                label = rowTip(row);
        }
        if (label.empty())
            rows->UnsetToolTip();
        else if (label != rows->GetToolTipText())
            rows->SetToolTip(label);
    });
}
