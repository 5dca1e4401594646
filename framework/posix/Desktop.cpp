#include "framework/Desktop.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <wx/app.h>

// The windows are X11 windows (the single-instance check looks up X11
// captions): under Wayland they go through XWayland, which sets DISPLAY.
bool PrepareDesktop(const char* program)
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        std::fprintf(stderr, "%s: needs a graphical session (no X display: DISPLAY is not set)\n", program);
        return false;
    }
    setenv("GDK_BACKEND", "x11", 1);
    return true;
}

// wx turns each signal into an event on the UI thread.
void WatchSessionEnd(void (*onEnd)(int signal))
{
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        wxTheApp->SetSignalHandler(signal, onEnd);
}
