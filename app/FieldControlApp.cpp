#include "app/FieldControlApp.h"

#include <chrono>
#include <memory>
#include <thread>

#include "common/ModulePath.h"
#include "framework/TopWindows.h"
#include "services/LoginDlg.h"
#include "ui/MainDlg.h"

bool CFieldControlApp::IsFirstInstance(const char* caption)
{
    TopWindow window = FindProgramWindow(caption);
    if (!window)
        return true;
    TopWindow popup = LastActivePopupOf(window);
    if (IsTopWindowIconic(window))
        RestoreTopWindow(window);
    ActivateTopWindow(popup);
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
