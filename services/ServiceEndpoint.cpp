#include "services/ServiceEndpoint.h"

#include <cstdlib>

#include "net/HttpRequest.h"

namespace {

constexpr int kServicePort = 80;

ServiceEndpoint Endpoint(const char* variable, const char* builtInHost)
{
    ServiceEndpoint endpoint{builtInHost, kServicePort};
    const char* override = std::getenv(variable);
    if (!override || !*override)
        return endpoint;
    std::string value = override;
    size_t colon = value.rfind(':');
    if (colon != std::string::npos && colon > 0 && value.find(']', colon) == std::string::npos) {
        endpoint.host = value.substr(0, colon);
        endpoint.port = std::atoi(value.c_str() + colon + 1);
    } else {
        endpoint.host = value;
    }
    return endpoint;
}

std::string HostPort(const ServiceEndpoint& service)
{
    return service.host + ":" + std::to_string(service.port);
}

}  // namespace

ServiceEndpoint AccountServiceEndpoint()
{
    return Endpoint("QUORVEL_ACCOUNT_HOST", QUORVEL_ACCOUNT_HOST_BUILTIN);
}

ServiceEndpoint MeetingServiceEndpoint()
{
    return Endpoint("QUORVEL_MEETING_HOST", QUORVEL_MEETING_HOST_BUILTIN);
}

ServiceEndpoint ResourceServiceEndpoint()
{
    return Endpoint("QUORVEL_RESOURCE_HOST", QUORVEL_RESOURCE_HOST_BUILTIN);
}

std::string UnreachableText(const ServiceEndpoint& service)
{
    return "无法连接服务器 " + HostPort(service);
}

std::string ServiceErrorText(const ServiceEndpoint& service)
{
    return "服务器 " + HostPort(service) + " 应答出错，请稍后再试";
}

std::string RequestOutcomeText(const ServiceEndpoint& service, const CHttpRequest& request)
{
    static const char* const kFailures[] = {"", "connection refused", "host not found", "no answer in time",
                                            "transfer failed"};
    int failure = request.m_nFailure;
    if (failure > HTTP_FAILURE_NONE && failure <= HTTP_FAILURE_OTHER)
        return HostPort(service) + ": " + kFailures[failure];
    return HostPort(service) + ": status " + std::to_string(request.m_nStatusCode);
}
