#include "framework/Dialog.h"

#include <algorithm>
#include <vector>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/combobox.h>
#include <wx/dialog.h>
#include <wx/display.h>
#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include "framework/DialogUnits.h"
#include "framework/Icons.h"
#include "framework/LocalText.h"
#include "framework/MessageBox.h"

namespace {

std::vector<CDialog*>& ModalStack()
{
    static std::vector<CDialog*> stack;
    return stack;
}

const DialogTemplate& TemplateOrDie(int templateId)
{
    const DialogTemplate* t = FindDialogTemplate(templateId);
    wxASSERT_MSG(t, "unknown dialog template");
    return *t;
}

long DialogWindowStyle(unsigned style)
{
    long wxStyle = wxCAPTION;
    if (style & DLG_SYSMENU)
        wxStyle |= wxSYSTEM_MENU | wxCLOSE_BOX;
    if (style & DLG_MINIMIZEBOX)
        wxStyle |= wxMINIMIZE_BOX;
    return wxStyle;
}

wxWindow* CreateNativeControl(wxWindow* parent, const ControlTemplate& c, const wxPoint& pos,
                              const wxSize& size)
{
    wxString text = Utf8ToWx(c.text);
    long border = (c.style & CTL_BORDER) ? wxBORDER_SIMPLE : 0;
    switch (c.kind) {
    case ControlKind::Static:
        return new wxStaticText(parent, c.id, text, pos, size,
                                wxST_NO_AUTORESIZE | ((c.style & CTL_CENTER) ? wxALIGN_CENTRE_HORIZONTAL : 0));
    case ControlKind::GroupBox:
        return new wxStaticBox(parent, c.id, text, pos, size);
    case ControlKind::Edit:
        return new wxTextCtrl(parent, c.id, text, pos, size, (c.style & CTL_PASSWORD) ? wxTE_PASSWORD : 0);
    case ControlKind::ComboBox:
        // Inserting at an index never sorts, as CB_INSERTSTRING does not.
        return new wxComboBox(parent, c.id, text, pos, size, 0, nullptr, wxCB_DROPDOWN);
    case ControlKind::ListView:
        return new wxListCtrl(parent, c.id, pos, size, wxLC_REPORT | border);
    case ControlKind::ProgressBar:
        return new wxGauge(parent, c.id, 100, pos, size);
    case ControlKind::Button:
        break;
    }
    return new wxButton(parent, c.id, text, pos, size);
}

// The least height, in dialog units, that a stretching control keeps.
constexpr int kLeastStretchedHeight = 64;

// A text control stands in the middle of its template rectangle, as high
// as its text: Windows draws a static's text and an edit's line at their
// top, GTK in their middle. An edit is as high as its font needs; a static
// as its lines, wrapped at its width.
wxRect CentreText(wxWindow* control, ControlKind kind, wxRect r)
{
    int height = r.height;
    if (kind == ControlKind::Edit) {
        height = control->GetBestSize().y;
    } else if (kind == ControlKind::Static) {
        wxSize line = control->GetBestSize();
        int lines = std::max(1, (line.x + r.width - 1) / std::max(r.width, 1));
        height = lines * std::max(line.y, control->GetCharHeight());
    }
    height = std::min(height, r.height);
    r.y += (r.height - height) / 2;
    r.height = height;
    return r;
}

wxRect WorkAreaOf(wxWindow* window)
{
    int display = wxDisplay::GetFromWindow(window);
    return wxDisplay(display == wxNOT_FOUND ? 0u : static_cast<unsigned>(display)).GetClientArea();
}

}  // namespace

// The wx window of a CDialog; forwards what the dialog class handles.
class CDialogWindow : public wxDialog {
public:
    CDialogWindow(CDialog& owner, const DialogTemplate& t)
        : wxDialog(nullptr, wxID_ANY, Utf8ToWx(t.caption), wxDefaultPosition, wxDefaultSize,
                   DialogWindowStyle(t.style)),
          m_owner(owner)
    {
        Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { m_owner.OnClose(); });
        Bind(wxEVT_CHAR_HOOK, [this](wxKeyEvent& event) {
            bool handled = false;
            m_owner.OnKey(event.GetKeyCode(), handled);
            if (!handled)
                event.Skip();
        });
        Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) { m_owner.SendCommand(event.GetId()); });
        Bind(wxEVT_TIMER, [this](wxTimerEvent& event) { m_owner.OnTimer(event.GetId()); });
        // Moved to a display of other scaling: wx gave every control the
        // font at the new DPI and then takes the system's suggested
        // rectangle on the new display; laid out again after that.
        Bind(wxEVT_DPI_CHANGED, [this](wxDPIChangedEvent& event) {
            event.Skip();
            CallAfter([this] { m_owner.LayOut(); });
        });
    }

private:
    CDialog& m_owner;
};

CDialog::CDialog(int templateId) : m_template(TemplateOrDie(templateId)) {}

CDialog::~CDialog()
{
    DestroyWindow();
}

void CDialog::BuildWindow()
{
    m_pWindow = new CDialogWindow(*this, m_template);
    m_pWindow->SetFont(DialogFont(m_template.fontFace, m_template.fontPoints));
    m_layout.clear();
    for (const ControlTemplate& c : m_template.controls) {
        wxWindow* control = CreateControl(c, m_pWindow, wxDefaultPosition, wxDefaultSize);
        m_layout.push_back(control);
        if (c.style & CTL_HIDDEN)
            control->Hide();
        if (c.style & CTL_DISABLED)
            control->Disable();
        if (auto* button = dynamic_cast<wxButton*>(control); button && (c.style & CTL_DEFAULT))
            button->SetDefault();
        BindControl(c, control);
    }
    LayOut();
    if (m_template.style & DLG_CENTER)
        m_pWindow->CentreOnScreen();
    KeepInWorkArea();
    m_hWnd = RegisterMessageTarget(this);
}

// Sizes the window and places its controls in the dialog units of its
// font, as the template says; on a display whose work area is lower than
// that, the stretching controls give up the height it lacks.
void CDialog::LayOut()
{
    m_units = DialogUnits::ForFont(m_pWindow, m_pWindow->GetFont());
    wxSize client(m_units.X(m_template.cx), m_units.Y(m_template.cy));
    m_pWindow->SetClientSize(client);
    int frame = m_pWindow->GetSize().y - m_pWindow->GetClientSize().y;
    m_nLack = std::clamp(client.y + frame - WorkAreaOf(m_pWindow).height, 0, LeastHeightLack());
    for (size_t i = 0; i < m_layout.size(); ++i)
        PlaceControl(i);
    m_pWindow->SetClientSize(client.x, client.y - m_nLack);
    KeepInWorkArea();
}

// The most height the stretching controls can give up.
int CDialog::LeastHeightLack() const
{
    int most = 0;
    bool any = false;
    for (const ControlTemplate& c : m_template.controls)
        if (c.style & CTL_STRETCH_V) {
            int give = std::max(0, m_units.Y(c.cy) - m_units.Y(kLeastStretchedHeight));
            most = any ? std::min(most, give) : give;
            any = true;
        }
    return most;
}

void CDialog::PlaceControl(size_t index)
{
    const ControlTemplate& c = m_template.controls[index];
    wxRect r(m_units.X(c.x), m_units.Y(c.y), m_units.X(c.cx), m_units.Y(c.cy));
    if (c.style & CTL_STRETCH_V)
        r.height -= m_nLack;
    if (c.style & CTL_FOLLOW_BOTTOM)
        r.y -= m_nLack;
    // A combo box's height in a template is that of its dropped list;
    // Windows shows it closed, as high as its font needs.
    if (c.kind == ControlKind::ComboBox)
        r.height = std::min(r.height, m_layout[index]->GetBestSize().y);
    m_layout[index]->SetSize(CentreText(m_layout[index], c.kind, r));
}

// Moves the window where the whole of it shows on its display.
void CDialog::KeepInWorkArea()
{
    wxRect area = WorkAreaOf(m_pWindow), frame = m_pWindow->GetRect();
    frame.x = std::clamp(frame.x, area.x, std::max(area.x, area.GetRight() + 1 - frame.width));
    frame.y = std::clamp(frame.y, area.y, std::max(area.y, area.GetBottom() + 1 - frame.height));
    m_pWindow->Move(frame.GetPosition());
}

void CDialog::BindControl(const ControlTemplate& c, wxWindow* control)
{
    auto* edit = dynamic_cast<wxTextCtrl*>(control);
    if (c.id == IDC_STATIC && !edit)
        return;
    if (c.id != IDC_STATIC)
        m_controls[c.id] = control;
    control->Bind(wxEVT_KILL_FOCUS, [this, id = c.id, edit](wxFocusEvent& event) {
        event.Skip();
        // A field scrolled along as it was typed shows its start again.
        if (edit)
            edit->SetInsertionPoint(0);
        auto it = m_killFocus.find(id);
        if (!m_bEnding && it != m_killFocus.end())
            it->second();
    });
}

wxWindow* CDialog::CreateControl(const ControlTemplate& control, wxWindow* parent, const wxPoint& pos,
                                 const wxSize& size)
{
    return CreateNativeControl(parent, control, pos, size);
}

bool CDialog::Create()
{
    if (m_pWindow)
        return true;
    m_bEnding = false;
    m_nResult = IDCANCEL;
    BuildWindow();
    return OnInitDialog();
}

int CDialog::DoModal()
{
    Create();
    if (!m_bEnding) {
        ModalStack().push_back(this);
        m_pWindow->ShowModal();
        ModalStack().pop_back();
    }
    DestroyWindow();
    return m_nResult;
}

void CDialog::DestroyWindow()
{
    if (!m_pWindow)
        return;
    m_bEnding = true;
    m_timers.clear();
    UnregisterMessageTarget(m_hWnd);
    m_hWnd = 0;
    // Destroyed now, not at the next idle time as Destroy() would: a closed
    // window must not linger with its caption (the single-instance check
    // finds windows by caption). Never called from the window's own handlers.
    delete m_pWindow;
    m_pWindow = nullptr;
    m_controls.clear();
    m_layout.clear();
}

void CDialog::EndDialog(int result)
{
    m_nResult = result;
    m_bEnding = true;
    if (m_pWindow && m_pWindow->IsModal())
        m_pWindow->EndModal(result);
}

bool CDialog::OnInitDialog()
{
    return true;
}

void CDialog::OnOK()
{
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::OnClose()
{
    SendCommand(IDCANCEL);
}

void CDialog::SendCommand(int id)
{
    if (m_bEnding)
        return;
    auto it = m_commands.find(id);
    if (it != m_commands.end())
        it->second();
    else if (id == IDOK)
        OnOK();
    else if (id == IDCANCEL)
        OnCancel();
}

void CDialog::OnKey(int keyCode, bool& handled)
{
    if (keyCode == WXK_ESCAPE) {
        handled = true;
        SendCommand(IDCANCEL);
    } else if (keyCode == WXK_RETURN || keyCode == WXK_NUMPAD_ENTER) {
        // Enter clicks the focused push button, else the default button if
        // it is enabled, as a Windows dialog does.
        handled = true;
        wxWindow* focus = wxWindow::FindFocus();
        const ControlTemplate* focused = focus && focus->GetParent() == m_pWindow
                                             ? m_template.Find(focus->GetId()) : nullptr;
        if (focused && focused->kind == ControlKind::Button)
            SendCommand(focus->GetId());
        else if (wxWindow* ok = GetDlgItem(IDOK); !ok || ok->IsEnabled())
            SendCommand(IDOK);
    }
}

void CDialog::MapCommand(int id, Handler handler)
{
    m_commands[id] = std::move(handler);
}

void CDialog::MapKillFocus(int id, Handler handler)
{
    m_killFocus[id] = std::move(handler);
}

wxWindow* CDialog::GetDlgItem(int id) const
{
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CDialog::SetDlgItemText(int id, const std::string& localText)
{
    wxWindow* control = GetDlgItem(id);
    if (!control)
        return;
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control)) {
        edit->ChangeValue(LocalToWx(localText));  // no change event, like WM_SETTEXT
        return;
    }
    control->SetLabel(LocalToWx(localText));
    // A static's height follows its lines.
    auto at = std::find(m_layout.begin(), m_layout.end(), control);
    if (at != m_layout.end())
        PlaceControl(static_cast<size_t>(at - m_layout.begin()));
}

std::string CDialog::GetDlgItemText(int id) const
{
    wxWindow* control = GetDlgItem(id);
    if (!control)
        return std::string();
    if (auto* edit = dynamic_cast<wxTextCtrl*>(control))
        return WxToLocal(edit->GetValue());
    return WxToLocal(control->GetLabel());
}

void CDialog::EnableDlgItem(int id, bool enable)
{
    if (wxWindow* control = GetDlgItem(id)) {
        // A control disabled while it has the focus would take the window's
        // keyboard input with it: the focus moves to the window first.
        wxWindow* focus = wxWindow::FindFocus();
        if (!enable && focus && (focus == control || control->IsDescendant(focus)))
            MoveFocusFrom(control);
        control->Enable(enable);
        control->Refresh();
    }
}

// To the first other control, in template order, that can take the focus.
void CDialog::MoveFocusFrom(wxWindow* control)
{
    for (const ControlTemplate& c : m_template.controls) {
        wxWindow* other = GetDlgItem(c.id);
        if (other && other != control && other->IsEnabled() && other->IsShown() &&
            other->CanAcceptFocus()) {
            other->SetFocus();
            return;
        }
    }
    m_pWindow->SetFocus();
}

void CDialog::ShowDlgItem(int id, bool show)
{
    if (wxWindow* control = GetDlgItem(id))
        control->Show(show);
}

void CDialog::SetIcon(int iconId)
{
    if (m_pWindow)
        m_pWindow->SetIcon(LoadIcon(iconId));
}

int CDialog::MessageBox(const std::string& localText, const std::string& localCaption, UINT type)
{
    return ShowMessageBox(m_pWindow, localText, localCaption, type);
}

void CDialog::QueueMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam)
{
    wxTheApp->CallAfter([=] { DispatchPostedMessage(self, msg, wParam, lParam); });
}

void CDialog::SetTimer(unsigned id, unsigned milliseconds)
{
    if (!m_pWindow)
        return;
    auto& timer = m_timers[id];
    if (!timer)
        timer = std::make_unique<wxTimer>(m_pWindow, static_cast<int>(id));
    timer->Start(static_cast<int>(milliseconds));
}

void CDialog::KillTimer(unsigned id)
{
    auto it = m_timers.find(id);
    if (it != m_timers.end())
        it->second->Stop();
}

int CDialog::TimerInterval(unsigned id) const
{
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->IsRunning() ? it->second->GetInterval() : 0;
}

void PostToWindow(HWND hwnd, std::function<void()> update)
{
    wxTheApp->CallAfter([hwnd, update = std::move(update)] {
        if (IsWindow(hwnd))
            update();
    });
}

CDialog* GetActiveModalDialog()
{
    return ModalStack().empty() ? nullptr : ModalStack().back();
}
