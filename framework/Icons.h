// Icon resources by id (res/), as wx icons.
#pragma once

#include <wx/icon.h>

// The icons are drawn 32 x 32 pixels, for 100 % scaling.
constexpr int kIconPixels = 32;

// An empty icon for an unknown id. `pixels` other than 0 and kIconPixels
// scale it to that width and height (the display's scaling).
wxIcon LoadIcon(int iconId, int pixels = 0);
