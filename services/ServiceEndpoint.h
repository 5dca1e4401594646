// Where the three remote services are: hosts fixed at build time, port 80.
// For tests, the demo and staging, QUORVEL_ACCOUNT_HOST, QUORVEL_MEETING_HOST
// and QUORVEL_RESOURCE_HOST override a host with "host" or "host:port".
#pragma once

#include <string>

struct ServiceEndpoint {
    std::string host;
    int port = 80;
};

// A service request ends after this long in all, and one that timed out is
// not tried again: a service that takes the connection and never answers
// costs the operator seconds, not minutes.
constexpr long kServiceTimeLimitMs = 20000;

// What the operator is told when a service cannot be reached at all
// (UTF-8): "无法连接服务器 host:port".
std::string UnreachableText(const ServiceEndpoint& service);
// What the operator is told when a service answered, but not as it should
// (an error status, an answer it never sends): "服务器 host:port 应答出错，请稍后再试".
std::string ServiceErrorText(const ServiceEndpoint& service);

ServiceEndpoint AccountServiceEndpoint();
ServiceEndpoint MeetingServiceEndpoint();
ServiceEndpoint ResourceServiceEndpoint();
