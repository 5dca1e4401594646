#include "framework/WaitCursor.h"

#include <wx/utils.h>

CWaitCursor::CWaitCursor()
{
    wxBeginBusyCursor();
}

CWaitCursor::~CWaitCursor()
{
    wxEndBusyCursor();
}
