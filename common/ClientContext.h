// Whom the main window serves: the company chosen at login and the meeting
// chosen in the meeting list. Narrow texts, byte for byte as the services
// sent them.
#pragma once

#include <string>

struct ClientContext {
    std::string comp_id;
    std::string meet_id;
};
