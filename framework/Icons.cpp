#include "framework/Icons.h"

#include <wx/bitmap.h>
#include <wx/image.h>

#include "res/IconData.h"

wxIcon LoadIcon(int iconId, int pixels)
{
    const char* const* xpm = IconXpm(iconId);
    if (!xpm)
        return wxIcon();
    if (pixels == 0 || pixels == kIconPixels)
        return wxIcon(xpm);
    wxImage image(xpm);
    image.Rescale(pixels, pixels, wxIMAGE_QUALITY_HIGH);
    wxIcon icon;
    icon.CopyFromBitmap(wxBitmap(image));
    return icon;
}
