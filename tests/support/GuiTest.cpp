#include "tests/support/GuiTest.h"

#include <wx/app.h>
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
        if (dialog.GetWindow() && dialog.GetWindow()->IsModal())
            dialog.EndDialog(kStillOpen);
    });
    return dialog.DoModal();
}

void PumpEvents()
{
    wxTheApp->ProcessPendingEvents();
    while (wxTheApp->Pending())
        wxTheApp->Dispatch();
    wxTheApp->ProcessIdle();  // destroys closed windows, as idle time does
    wxTheApp->Yield(true);    // one turn of the toolkit's loop sends them to X
}
