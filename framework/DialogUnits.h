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
};

// The template's face when installed, else an installed CJK face, so that
// Chinese captions render.
wxFont DialogFont(const char* face, int points);
