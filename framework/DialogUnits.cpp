#include "framework/DialogUnits.h"

#include <wx/dcclient.h>
#include <wx/fontenum.h>
#include <wx/window.h>

#include "framework/LocalText.h"

namespace {

// As Windows' MulDiv: rounds half away from zero.
int MulDivRounded(int value, int numerator, int denominator)
{
    long long product = static_cast<long long>(value) * numerator;
    long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

}  // namespace

DialogUnits DialogUnits::ForFont(wxWindow* window, const wxFont& font)
{
    wxClientDC dc(window);
    dc.SetFont(font);
    wxCoord width = 0, height = 0;
    dc.GetTextExtent("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", &width, &height);
    DialogUnits units;
    units.baseX = (width / 26 + 1) / 2;
    units.baseY = dc.GetCharHeight();
    return units;
}

int DialogUnits::X(int units) const
{
    return MulDivRounded(units, baseX, 4);
}

int DialogUnits::Y(int units) const
{
    return MulDivRounded(units, baseY, 8);
}

int DialogUnits::ScaleWidth(int pixels) const
{
    return MulDivRounded(pixels, baseX, 8);
}

wxFont DialogFont(const char* face, int points)
{
    wxString faceName = Utf8ToWx(face);
    if (wxFontEnumerator::IsValidFacename(faceName))
        return wxFont(wxFontInfo(points).FaceName(faceName));
    // The stand-in is named in English, which fontconfig knows under every
    // locale (the font list of a Chinese locale shows only 文泉驿正黑).
    return wxFont(wxFontInfo(points - kStandInPointsLess).FaceName(kStandInFace));
}
