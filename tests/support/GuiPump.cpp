// PumpEvents (GuiTest.h): apart from the rest, since on Windows wx's event
// loop header needs the window manager's API (see WindowsTests.cmake).
#include <wx/app.h>
#include <wx/apptrait.h>
#include <wx/evtloop.h>

#include "tests/support/GuiTest.h"

void PumpEvents()
{
    // The system's messages (timers, paints, input) are dispatched only
    // through an active loop: outside a modal dialog, one of the test's own.
    static wxEventLoopBase* const ownLoop = wxTheApp->GetTraits()->CreateEventLoop();
    wxEventLoopActivator activate(wxEventLoopBase::GetActive() ? wxEventLoopBase::GetActive() : ownLoop);
    wxTheApp->ProcessPendingEvents();
    while (wxTheApp->Pending())
        wxTheApp->Dispatch();
    wxTheApp->ProcessIdle();  // destroys closed windows, as idle time does
    wxTheApp->Yield(true);    // one turn of the toolkit's loop sends them to X
}
