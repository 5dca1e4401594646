// CWinApp: the application object. Exactly one global instance derives
// from it; AfxWinMain runs it: the locale is set up, wx starts, and
// InitInstance runs the program's modal windows. When InitInstance returns
// false the process ends without a message loop, with exit code 0.
//
// SIGTERM, SIGHUP and SIGINT (logging out, closing the terminal, Ctrl-C)
// cancel the modal window that runs, through its own cancel steps, as
// Escape would; the process then ends with 128 + the signal's number.
#pragma once

class CDialog;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual bool InitInstance() = 0;
    virtual int ExitInstance();

    CDialog* m_pMainWnd = nullptr;  // the main window while it runs
};

CWinApp* AfxGetApp();
// The signal that asked the process to end, 0 while none did.
int AfxExitSignal();
// Routes SIGTERM, SIGHUP and SIGINT to the running modal window's cancel
// steps (AfxWinMain does this; tests running their own wx application may).
void InstallExitSignalHandlers();
// The process's main routine: call from main(). Without an X display it
// says so in one line and returns 1; GTK always uses its X11 backend.
int AfxWinMain(int argc, char** argv);
