#include "framework/Icons.h"

#include "res/IconData.h"

wxIcon LoadIcon(int iconId)
{
    const char* const* xpm = IconXpm(iconId);
    return xpm ? wxIcon(xpm) : wxIcon();
}
