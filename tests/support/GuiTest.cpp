#include "tests/support/GuiTest.h"

#include <wx/app.h>
#include <wx/dialog.h>
#include <wx/msgdlg.h>
#include <wx/textctrl.h>

#include "framework/Dialog.h"

int MessageBoxRecorder::Enter(wxDialog* dialog)
{
    auto* box = dynamic_cast<wxMessageDialog*>(dialog);
    if (!box)
        return wxID_NONE;
    boxes.push_back({box->GetMessage().utf8_string(), box->GetTitle().utf8_string()});
    return wxID_OK;
}

void TypeInto(CDialog& dialog, int id, const std::string& utf8)
{
    auto* edit = dynamic_cast<wxTextCtrl*>(dialog.GetDlgItem(id));
    if (edit)
        edit->ChangeValue(wxString::FromUTF8(utf8));
}

void LeaveControl(CDialog& dialog, int id)
{
    wxWindow* control = dialog.GetDlgItem(id);
    wxFocusEvent event(wxEVT_KILL_FOCUS, id);
    event.SetEventObject(control);
    control->GetEventHandler()->ProcessEvent(event);
}

int RunModal(CDialog& dialog, const std::function<void()>& script)
{
    wxTheApp->CallAfter([&dialog, script] {
        script();
        // An ended dialog is hidden at once; wxMSW leaves it modal until
        // its loop returns.
        wxDialog* window = dialog.GetWindow();
        if (window && window->IsModal() && window->IsShown())
            dialog.EndDialog(kStillOpen);
    });
    return dialog.DoModal();
}
