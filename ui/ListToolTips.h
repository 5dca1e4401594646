// Labels cut off by their column show in full in a tooltip while the
// pointer rests on them, as a Windows list view does for its truncated
// labels (a meeting or resource name longer than its column).
#pragma once

#include <functional>
#include <wx/string.h>

class wxListCtrl;
class wxPoint;
class wxWindow;

// The window of a report list that draws its rows (below the header) and
// gets the pointer over them.
wxWindow* ListRowsWindow(wxListCtrl* list);
// The label at `at` (rows window coordinates) when its column cuts it off,
// else an empty text.
wxString CutLabelAt(wxListCtrl* list, const wxPoint& at);
// The row's own text (empty for none), shown where no label is cut off.
using RowToolTip = std::function<wxString(long row)>;
// From now on the rows window's tooltip is CutLabelAt the pointer, else
// `rowTip` of the row under it.
void ShowCutLabelsInToolTips(wxListCtrl* list, RowToolTip rowTip = {});
