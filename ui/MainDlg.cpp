#include "ui/MainDlg.h"

#include "res/resource.h"
#include "ui/PercentBar.h"

CMainDlg::CMainDlg() : CDialog(IDD_MAIN_DIALOG) {}

bool CMainDlg::OnInitDialog()
{
    SetIcon(IDI_APP);
    ShowDlgItem(IDC_WAITING, false);
    return true;
}

wxWindow* CMainDlg::CreateControl(const ControlTemplate& control, wxWindow* parent, const wxPoint& pos,
                                  const wxSize& size)
{
    if (control.id != IDC_PROGRESS)
        return CDialog::CreateControl(control, parent, pos, size);
    return new CPercentBar(parent, control.id, pos, size);
}

CPercentBar* CMainDlg::GetProgressBar() const
{
    return dynamic_cast<CPercentBar*>(GetDlgItem(IDC_PROGRESS));
}
