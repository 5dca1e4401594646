// What the application object needs of the desktop session, once per
// system: posix/Desktop.cpp (an X display, GTK's X11 backend, the exit
// signals) and win32/Desktop.cpp (the session's end messages).
#pragma once

// False, after saying why on stderr, when no window can be shown (POSIX:
// no X display). Call before wx starts.
bool PrepareDesktop(const char* program);

// `onEnd(signal)` runs on the UI thread when the user or the session asks
// the program to end: SIGTERM, SIGHUP, SIGINT; Windows: the session ending
// (log-off, shut-down) as SIGTERM. Needs the running wx application.
void WatchSessionEnd(void (*onEnd)(int signal));
