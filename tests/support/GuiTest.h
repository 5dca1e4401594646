// Helpers for tests of real windows: typing into controls, moving the focus
// away, running a dialog modally while a test script acts on it, and
// answering the message boxes it shows.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include <wx/modalhook.h>

class CDialog;

// Answers every message box with OK without showing it, remembering its
// texts (UTF-8). Other dialogs run normally.
class MessageBoxRecorder : public wxModalDialogHook {
public:
    struct Box {
        std::string text;
        std::string caption;
    };

    MessageBoxRecorder() { Register(); }
    ~MessageBoxRecorder() override { Unregister(); }

    std::vector<Box> boxes;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog*) override {}
};

// Replaces the text of an edit as if typed (UTF-8).
void TypeInto(CDialog& dialog, int id, const std::string& utf8);
// Sends the control the notification of losing the keyboard focus.
void LeaveControl(CDialog& dialog, int id);
// Runs the dialog modally; `script` runs inside its loop. Returns DoModal's
// result, or kStillOpen when the dialog was still open after the script
// (RunModal then ends it), so a test expecting the dialog to have closed
// itself cannot pass when it did not.
constexpr int kStillOpen = 1000;
int RunModal(CDialog& dialog, const std::function<void()>& script);
// Lets the UI thread handle what is queued (posted messages, repaints,
// windows waiting to be destroyed).
void PumpEvents();
