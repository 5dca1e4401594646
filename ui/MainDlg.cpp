#include "ui/MainDlg.h"

#include "res/resource.h"

CMainDlg::CMainDlg() : CDialog(IDD_MAIN_DIALOG) {}

bool CMainDlg::OnInitDialog()
{
    SetIcon(IDI_APP);
    ShowDlgItem(IDC_WAITING, false);
    return true;
}
