// CDialog: a window built from a dialog template (res/), run modally or
// created for tests, with the Windows dialog conventions the program relies
// on: numeric control ids, IDOK/IDCANCEL results, Enter for the default
// button and Escape for IDCANCEL, EN_KILLFOCUS and BN_CLICKED notifications,
// posted messages through a handle that dies with the window.
//
// UI thread only, except PostMessageA to GetSafeHwnd().
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/DialogTemplate.h"
#include "framework/DialogUnits.h"
#include "framework/PostMessage.h"

class wxDialog;
class wxTimer;
class wxPoint;
class wxSize;
class wxWindow;

class CDialog : public CMessageTarget {
public:
    explicit CDialog(int templateId);
    ~CDialog() override;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Builds the window, runs OnInitDialog, shows it modally; returns the
    // value given to EndDialog. The window is destroyed before returning.
    int DoModal();
    // Builds the window and runs OnInitDialog without showing it.
    bool Create();
    void DestroyWindow();
    void EndDialog(int result);

    virtual bool OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    // The close box; like WM_CLOSE on a dialog it cancels.
    virtual void OnClose();

    wxWindow* GetDlgItem(int id) const;
    void SetDlgItemText(int id, const std::string& localText);
    std::string GetDlgItemText(int id) const;
    void EnableDlgItem(int id, bool enable);
    void ShowDlgItem(int id, bool show);
    // Sets the window's small icon from an icon resource.
    void SetIcon(int iconId);
    int MessageBox(const std::string& localText, const std::string& localCaption, UINT type);

    HWND GetSafeHwnd() const { return m_hWnd; }
    wxDialog* GetWindow() const { return m_pWindow; }
    const DialogTemplate& GetTemplate() const { return m_template; }
    // Pixel sizes given for a dialog font of 8-pixel average character
    // width (list columns), scaled to this window's font.
    int ScaleWidth(int pixels) const { return m_units.ScaleWidth(pixels); }

    // Runs the command of a control as a click or key would (BN_CLICKED).
    void SendCommand(int id);

    // The window timer `id`; starting it again replaces the running one.
    void SetTimer(unsigned id, unsigned milliseconds);
    void KillTimer(unsigned id);
    // The interval of the running timer `id` in milliseconds, 0 when off.
    int TimerInterval(unsigned id) const;
    virtual void OnTimer(unsigned /*id*/) {}

protected:
    using Handler = std::function<void()>;
    // The message map: handlers for a button click and an edit losing focus.
    void MapCommand(int id, Handler handler);
    void MapKillFocus(int id, Handler handler);

    void HandleMessage(UINT, WPARAM, LPARAM) override {}

    // Makes the window of one template control. A dialog class overrides
    // it for its custom controls and leaves the others to this default.
    virtual wxWindow* CreateControl(const ControlTemplate& control, wxWindow* parent,
                                    const wxPoint& pos, const wxSize& size);

private:
    void QueueMessage(HWND self, UINT msg, WPARAM wParam, LPARAM lParam) override;
    void BuildWindow();
    void LayOut();
    void PlaceControl(size_t index);
    int LeastHeightLack() const;
    void KeepInWorkArea();
    void BindControl(const ControlTemplate& c, wxWindow* control);
    void OnKey(int keyCode, bool& handled);
    void MoveFocusFrom(wxWindow* control);

    const DialogTemplate& m_template;
    wxDialog* m_pWindow = nullptr;  // owned by wx; null when no window exists
    HWND m_hWnd = 0;                // posted-message handle of the live window
    DialogUnits m_units;            // of the window's font, once built
    int m_nLack = 0;                // pixels of height the work area lacks, taken from stretching controls
    std::vector<wxWindow*> m_layout;  // every control, in template order
    bool m_bEnding = false;         // EndDialog called: notifications are ignored
    int m_nResult = IDCANCEL;
    std::map<int, wxWindow*> m_controls;
    std::map<int, Handler> m_commands;
    std::map<int, Handler> m_killFocus;
    std::map<unsigned, std::unique_ptr<wxTimer>> m_timers;

    friend class CDialogWindow;
};

// From any thread: runs `update` on the UI thread soon, in the order posted,
// unless the window `hwnd` is gone by then. Never waits, so a worker may post
// while the UI thread waits for it.
void PostToWindow(HWND hwnd, std::function<void()> update);

// The innermost dialog currently running modally, or null.
CDialog* GetActiveModalDialog();
