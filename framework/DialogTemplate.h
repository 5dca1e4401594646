// Dialog templates as data: what a resource script says of a dialog and its
// controls, with rectangles in dialog units. CDialog builds windows from it.
#pragma once

#include <vector>

enum class ControlKind { Static, GroupBox, Edit, Button, ComboBox, ListView, ProgressBar };

// Control styles the window layer understands (a small subset of WS_/ES_/BS_...).
enum ControlStyle : unsigned {
    CTL_HIDDEN = 1u << 0,      // not WS_VISIBLE
    CTL_DISABLED = 1u << 1,    // WS_DISABLED
    CTL_CENTER = 1u << 2,      // SS_CENTER
    CTL_DEFAULT = 1u << 3,     // BS_DEFPUSHBUTTON
    CTL_OWNERDRAW = 1u << 4,   // BS_OWNERDRAW
    CTL_PASSWORD = 1u << 5,    // ES_PASSWORD
    CTL_AUTOHSCROLL = 1u << 6, // ES_AUTOHSCROLL
    CTL_BORDER = 1u << 7,      // WS_BORDER
    CTL_VSCROLL = 1u << 8,     // WS_VSCROLL
    CTL_SORT = 1u << 9,        // CBS_SORT (kept as data; inserts never sort)
    CTL_DROPDOWN = 1u << 10,   // CBS_DROPDOWN
    CTL_REPORT = 1u << 11,     // LVS_REPORT
    CTL_TABSTOP = 1u << 12,    // WS_TABSTOP
    // Layout on a screen too low for the template: a stretching control
    // gives up the height the window lacks (down to a least height), and
    // one that follows the bottom moves up by it.
    CTL_STRETCH_V = 1u << 13,
    CTL_FOLLOW_BOTTOM = 1u << 14,
};

enum DialogStyle : unsigned {
    DLG_CENTER = 1u << 0,       // DS_CENTER
    DLG_SYSMENU = 1u << 1,      // WS_SYSMENU
    DLG_MINIMIZEBOX = 1u << 2,  // WS_MINIMIZEBOX
    DLG_MODALFRAME = 1u << 3,   // DS_MODALFRAME
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;  // UTF-8
    int x, y, cx, cy;  // dialog units
    unsigned style;
};

struct DialogTemplate {
    int id;
    const char* caption;  // UTF-8
    const char* fontFace;
    int fontPoints;
    int cx, cy;  // dialog units
    unsigned style;
    std::vector<ControlTemplate> controls;

    const ControlTemplate* Find(int controlId) const;
};

// The program's templates (res/); null for an unknown id.
const DialogTemplate* FindDialogTemplate(int templateId);
