// Dialog units → pixels, as Windows converts them for a dialog's font:
// x by the average character width / 4, y by the character height / 8.
#pragma once

class wxFont;
class wxWindow;

struct DialogUnits {
    int baseX = 8;  // average character width in pixels
    int baseY = 16; // character height in pixels

    static DialogUnits ForFont(wxWindow* window, const wxFont& font);
    int X(int units) const;
    int Y(int units) const;
    // A width in pixels meant for an average character width of 8 pixels.
    int ScaleWidth(int pixels) const;
};

// The stand-in for a template face that is not installed (宋体 on Linux):
// its lines are taller than 宋体's, so it is taken a point smaller. For the
// main window's 宋体 11 that gives base units of 7 x 17 px at 96 dpi under
// every locale (宋体 gives about 7 x 15), a 693 x 684 px window that fits
// the work area of a 1366 x 768 screen.
constexpr const char* kStandInFace = "WenQuanYi Zen Hei";
constexpr int kStandInPointsLess = 1;

// The template's face when installed, else the stand-in, so that Chinese
// captions render alike under every locale.
wxFont DialogFont(const char* face, int points);
