// CWinApp: the application object. Exactly one global instance derives
// from it; AfxWinMain runs it: the locale is set up, wx starts, and
// InitInstance runs the program's modal windows. When InitInstance returns
// false the process ends without a message loop, with exit code 0.
//
// SIGTERM, SIGHUP and SIGINT (logging out, closing the terminal, Ctrl-C;
// on Windows the session's end) cancel the modal window that runs, through
// its own cancel steps, as Escape would; the process then ends with 128 +
// the signal's number.
#pragma once

#include <string>

class CDialog;

class CWinApp {
public:
    // `appName` (UTF-8): the application's name, the caption of its
    // message boxes; without one the executable's name stands in.
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual bool InitInstance() = 0;
    virtual int ExitInstance();

    CDialog* m_pMainWnd = nullptr;  // the main window while it runs
    const char* m_pszAppName;       // UTF-8, or null
};

CWinApp* AfxGetApp();
// The application's name in the local code page: the running application
// object's, else the executable's file name.
std::string AfxGetAppName();
// The signal that asked the process to end, 0 while none did.
int AfxExitSignal();
// Routes SIGTERM, SIGHUP and SIGINT to the running modal window's cancel
// steps (AfxWinMain does this; tests running their own wx application may).
void InstallExitSignalHandlers();
// The process's main routine: call from main(). Without a desktop (no X
// display) it says so in one line and returns 1; GTK always uses its X11
// backend.
int AfxWinMain(int argc, char** argv);
