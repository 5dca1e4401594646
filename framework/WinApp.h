// CWinApp: the application object. Exactly one global instance derives
// from it; AfxWinMain runs it: the locale is set up, wx starts, and
// InitInstance runs the program's modal windows. When InitInstance returns
// false the process ends without a message loop, with exit code 0.
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
// The process's main routine: call from main().
int AfxWinMain(int argc, char** argv);
