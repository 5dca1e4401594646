#include "framework/MessageBox.h"

#include <wx/dialog.h>
#include <wx/msgdlg.h>

#include "common/ModulePath.h"
#include "framework/Dialog.h"
#include "framework/LocalText.h"
#include "framework/WinApp.h"

int ShowMessageBox(wxWindow* parent, const std::string& localText,
                   const std::string& localCaption, UINT type)
{
    long buttons = (type & MB_OKCANCEL) ? wxOK | wxCANCEL : wxOK;
    wxMessageDialog box(parent, LocalToWx(localText), LocalToWx(localCaption),
                        buttons | wxICON_NONE | wxCENTRE);
    return box.ShowModal() == wxID_OK ? IDOK : IDCANCEL;
}

int AfxMessageBox(const std::string& localText, UINT type)
{
    CDialog* active = GetActiveModalDialog();
    return ShowMessageBox(active ? active->GetWindow() : nullptr, localText,
                          AfxGetAppName(), type);
}
