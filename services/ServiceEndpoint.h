// Where the three remote services are: hosts fixed at build time, port 80.
// For tests, the demo and staging, QUORVEL_ACCOUNT_HOST, QUORVEL_MEETING_HOST
// and QUORVEL_RESOURCE_HOST override a host with "host" or "host:port".
#pragma once

#include <string>

class CHttpRequest;

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

// For the log: the service and how the request's last exchange ended
// ("host:port: status 500", "host:port: connection refused"). The URL's
// query, which may hold what the operator typed, is never part of it.
std::string RequestOutcomeText(const ServiceEndpoint& service, const CHttpRequest& request);

ServiceEndpoint AccountServiceEndpoint();
ServiceEndpoint MeetingServiceEndpoint();
ServiceEndpoint ResourceServiceEndpoint();
