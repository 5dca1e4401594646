#include "framework/Desktop.h"

#include <csignal>
#include <wx/app.h>
#include <wx/event.h>
#include <wx/msw/private.h>

// wx starts from main() here, not from WinMain: it learns the program's
// instance handle, without which no dialog can be made.
bool PrepareDesktop(const char*)
{
    wxSetInstance(GetModuleHandleW(nullptr));
    return true;
}

// Windows asks first (WM_QUERYENDSESSION): the program never vetoes and
// ends its work there, through the running window's cancel steps, before
// the session goes.
void WatchSessionEnd(void (*onEnd)(int signal))
{
    wxTheApp->Bind(wxEVT_QUERY_END_SESSION, [onEnd](wxCloseEvent&) { onEnd(SIGTERM); });
}
