// Icon resources by id (res/), as wx icons.
#pragma once

#include <wx/icon.h>

// An empty icon for an unknown id.
wxIcon LoadIcon(int iconId);
