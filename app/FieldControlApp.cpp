#include "app/FieldControlApp.h"

#include <memory>

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

bool CFieldControlApp::InitInstance()
{
    if (!IsFirstInstance(kLoginCaption) || !IsFirstInstance(kMainCaption))
        return false;

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
