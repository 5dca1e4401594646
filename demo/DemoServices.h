// The account, meeting and resource services of the demo, on one HTTP
// server: what the client asks of the real services, answered from the
// fixed data set. Loopback only; the port is the caller's choice.
#pragma once

namespace httplib {
class Server;
}

// Adds the services' routes to `server`.
void MountDemoServices(httplib::Server& server);
