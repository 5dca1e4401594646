#include "app/FieldControlApp.h"

#include <chrono>
#include <memory>
#include <thread>

#include "common/ModulePath.h"
#include "framework/X11Windows.h"
#include "services/LoginDlg.h"
#include "ui/MainDlg.h"

bool CFieldControlApp::IsFirstInstance(const char* caption)
{
    XWINDOW window = FindWindowA(nullptr, caption);
    if (!window)
        return true;
    XWINDOW popup = GetLastActivePopup(window);
    if (IsIconic(window))
        ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(popup);
    return false;
}

bool CFieldControlApp::NoWindowOfTheProgram()
{
    return IsFirstInstance(kLoginCaption) && IsFirstInstance(kMainCaption);
}

// The first copy runs but shows no window yet (it is between the login and
// its main window): wait a little for one and bring it forward.
void CFieldControlApp::RaiseWhenItAppears()
{
    constexpr int kPollMs = 100;
    for (int waited = 0; waited < kWindowWaitMs && NoWindowOfTheProgram(); waited += kPollMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

bool CFieldControlApp::InitInstance()
{
    if (!NoWindowOfTheProgram())
        return false;
    if (!m_lock.Acquire(GetModuleDirectory())) {
        RaiseWhenItAppears();
        return false;
    }

    auto login = std::make_unique<CLoginDlg>();
    if (login->DoModal() != IDOK || AfxExitSignal())
        return false;

    auto main = std::make_unique<CMainDlg>();
    m_pMainWnd = main.get();
    main->SetCompany(login->GetCompId());
    main->DoModal();
    m_pMainWnd = nullptr;
    return false;
}
