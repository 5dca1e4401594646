#include "framework/WinApp.h"

#include <atomic>
#include <clocale>
#include <strings.h>
#include <wx/app.h>
#include <wx/uilocale.h>

#include "common/ModulePath.h"
#include "common/Trace.h"
#include "common/Utf8ToLocal.h"
#include "framework/Desktop.h"
#include "framework/Dialog.h"

namespace {

CWinApp* g_pApp = nullptr;
std::atomic<int> g_nExitSignal{0};

// Runs on the UI thread from the event loop, so the window's cancel steps
// run as for Escape.
void OnExitSignal(int signal)
{
    g_nExitSignal = signal;
    if (CDialog* dialog = GetActiveModalDialog())
        dialog->OnCancel();
}

// A failed check inside wx is a diagnostic line, never a dialog or a trap
// in front of the operator.
void LogAssertion(const wxString& file, int line, const wxString& function, const wxString& condition,
                  const wxString& message)
{
    DebugLog("wx check failed: %s:%d %s: %s %s", file.utf8_str().data(), line, function.utf8_str().data(),
             condition.utf8_str().data(), message.utf8_str().data());
}

// The wx side of the application object: runs InitInstance instead of a
// message loop (modal windows run their own loops inside it).
class CWxApp : public wxApp {
public:
    bool OnInit() override
    {
        wxSetAssertHandler(LogAssertion);
        wxUILocale::UseDefault();
        InstallExitSignalHandlers();
        return true;
    }

    int OnRun() override
    {
        int code = g_pApp->InitInstance() ? wxApp::OnRun() : g_pApp->ExitInstance();
        return g_nExitSignal ? 128 + g_nExitSignal : code;
    }
};

}  // namespace

CWinApp::CWinApp(const char* appName) : m_pszAppName(appName)
{
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    g_pApp = nullptr;
}

int CWinApp::ExitInstance()
{
    return 0;
}

std::string AfxGetAppName()
{
    // Converted when asked: the application object is made before main
    // sets the locale.
    if (g_pApp && g_pApp->m_pszAppName)
        return Utf8ToLocal(g_pApp->m_pszAppName);
    // The program's name without its ".exe", as MFC gives it.
    std::string name = GetModuleBaseName();
    bool exe = name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0;
    return exe ? name.substr(0, name.size() - 4) : name;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

int AfxExitSignal()
{
    return g_nExitSignal;
}

void InstallExitSignalHandlers()
{
    WatchSessionEnd(OnExitSignal);
}

int AfxWinMain(int argc, char** argv)
{
    if (!PrepareDesktop(argc > 0 ? argv[0] : "quorvel-client"))
        return 1;
    // Under the "C" locale GTK leaves WM_NAME unset for Chinese captions and
    // the local code page would be ASCII.
    std::setlocale(LC_ALL, "");
    wxApp::SetInstance(new CWxApp);
    return wxEntry(argc, argv);
}
