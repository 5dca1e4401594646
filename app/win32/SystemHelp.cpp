#include "app/SystemHelp.h"

const char kSystemHelp[] =
    "It takes no arguments. It keeps a log for support in\n"
    "%LOCALAPPDATA%\\Quorvel\\logs.\n";
