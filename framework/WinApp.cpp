#include "framework/WinApp.h"

#include <clocale>
#include <wx/app.h>
#include <wx/uilocale.h>

namespace {

CWinApp* g_pApp = nullptr;

// The wx side of the application object: runs InitInstance instead of a
// message loop (modal windows run their own loops inside it).
class CWxApp : public wxApp {
public:
    bool OnInit() override
    {
        wxUILocale::UseDefault();
        return true;
    }

    int OnRun() override
    {
        if (g_pApp->InitInstance())
            return wxApp::OnRun();
        return g_pApp->ExitInstance();
    }
};

}  // namespace

CWinApp::CWinApp()
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

CWinApp* AfxGetApp()
{
    return g_pApp;
}

int AfxWinMain(int argc, char** argv)
{
    // Under the "C" locale GTK leaves WM_NAME unset for Chinese captions and
    // the local code page would be ASCII.
    std::setlocale(LC_ALL, "");
    wxApp::SetInstance(new CWxApp);
    return wxEntry(argc, argv);
}
