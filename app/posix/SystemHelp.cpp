#include "app/SystemHelp.h"

const char kSystemHelp[] =
    "It takes no arguments and needs an X display. It keeps a log for support\n"
    "in $XDG_STATE_HOME/quorvel (by default ~/.local/state/quorvel).\n";
