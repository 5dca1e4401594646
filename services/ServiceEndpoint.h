// Where the three remote services are: hosts fixed at build time, port 80.
// For tests, the demo and staging, QUORVEL_ACCOUNT_HOST, QUORVEL_MEETING_HOST
// and QUORVEL_RESOURCE_HOST override a host with "host" or "host:port".
#pragma once

#include <string>

struct ServiceEndpoint {
    std::string host;
    int port = 80;
};

ServiceEndpoint AccountServiceEndpoint();
ServiceEndpoint MeetingServiceEndpoint();
ServiceEndpoint ResourceServiceEndpoint();
