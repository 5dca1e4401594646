// What the window tests do differently on each system: the display they
// are given, the end of the session, windows of other programs, the client
// started or installed as a program. posix/GuiSystem.cpp (X11, signals)
// and win32/GuiSystem.cpp (Win32, under Wine in scripts/test).
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "framework/TopWindows.h"

// Before wx starts: the display ctest gave this test (its resource
// "displays"; POSIX takes it as DISPLAY, wine-run gives it to Wine), and
// a crash ends the program at once with a line on stderr. False when the
// tests ran elsewhere (Windows: in a copy of this program on a desktop of
// its own), `result` then being their exit code.
bool PrepareTestDesktop(int& result);

// Asks this program to end as the end of the session does (POSIX: SIGTERM;
// Windows: WM_QUERYENDSESSION to its windows); the application's handler
// runs on the UI thread.
void AskThisProgramToEnd();
// Gives the end of the session back to the system's default.
void StopWatchingSessionEnd();

// The client installed as it ships under `base`, in a directory whose name
// holds a space, a quote and braces; returns its program directory.
std::string InstallClientUnder(const std::string& base);

// The cache's file names are UTF-8 for the scope's length. POSIX: a UTF-8
// locale; Windows names files in UTF-16 under every code page.
class Utf8FileNames {
public:
    Utf8FileNames();
    ~Utf8FileNames();
    Utf8FileNames(const Utf8FileNames&) = delete;
    Utf8FileNames& operator=(const Utf8FileNames&) = delete;
    bool ok() const { return m_ok; }

private:
    std::string m_saved;
    bool m_ok = true;
};

// The client (QUORVEL_CLIENT_PATH) started as a program, or another
// program with its arguments, on the test's desktop; stopped by force when
// the object goes, so a test that fails early leaves nothing behind.
class ClientProcess {
public:
    ClientProcess();
    ClientProcess(const std::string& program, const std::vector<std::string>& arguments);
    ~ClientProcess();
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    bool Started() const;
    // Its exit status, or -1 while it still runs after `limit` (this
    // program's own windows are served meanwhile).
    int Wait(std::chrono::milliseconds limit);
    // Asks it to end as the end of the session does: it ends with 128 +
    // SIGTERM.
    void AskToEnd();

private:
    struct Process;
    std::unique_ptr<Process> m_process;
};

// A top-level window of this test's own, not made by wx: another program's
// window on the desktop. Shown with `caption` (UTF-8).
class ForeignWindow {
public:
    explicit ForeignWindow(const char* caption);
    ~ForeignWindow();
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    TopWindow Handle() const;
    // Takes the keyboard focus (X: the input focus; Windows: the foreground).
    void TakeFocus();

private:
    struct Native;
    std::unique_ptr<Native> m_native;
};

// The top-level window that has the keyboard focus now, 0 when none.
TopWindow FocusedTopWindow();
// Whether `window`, found by caption, came to be on screen within a few
// seconds. Windows finds a window by caption before it shows, and shows a
// new window active: there, on screen and in the foreground.
bool WaitUntilShown(TopWindow window);

// As a person signs in: activates the window captioned `caption`, types
// `user`, Tab, `password` and Enter. False when that could not be done.
bool SignInByKeyboard(const char* caption, const char* user, const char* password);
