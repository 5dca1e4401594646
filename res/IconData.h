// The icons compiled into the program, by resource id.
#pragma once

// XPM data of the icon, or null for an unknown id.
const char* const* IconXpm(int iconId);
