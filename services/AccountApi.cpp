#include "services/AccountApi.h"

#include <chrono>
#include <thread>

#include "common/Md5.h"
#include "common/UrlText.h"
#include "services/JsonText.h"

const char* AccountResultText(int result)
{
    static const char* const kTexts[] = {"accepted", "request failed", "refused or empty answer", "timed out",
                                         "answer not as the service sends it"};
    return result >= ACCOUNT_OK && result <= ACCOUNT_BAD_ANSWER ? kTexts[result] : "unknown result";
}

int RetryWhileFailed(const std::function<int()>& attempt)
{
    int result = attempt();
    for (int done = 1; result == ACCOUNT_FAILED && done < kAccountMaxAttempts; ++done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        result = attempt();
    }
    return result;
}

static std::string ServiceRoot(const ServiceEndpoint& service)
{
    return "http://" + service.host + ":" + std::to_string(service.port);
}

// The typed user name goes out as typed, but for the characters that would
// end or change the query (see EscapeUrlText).
std::string CompanyLookupUrl(const ServiceEndpoint& service, std::string_view userName)
{
    return ServiceRoot(service) + "/orbapi/api/getwwwcompinfo?username=" + EscapeUrlText(userName);
}

std::string LoginUrl(const ServiceEndpoint& service, std::string_view userName,
                     std::string_view compId, std::string_view passwordDigest)
{
    return ServiceRoot(service) + "/orbapi/api/login?user_id=" + EscapeUrlText(userName) +
           "&comp_id=" + std::string(compId) + "&password=" + std::string(passwordDigest);
}

std::string PasswordDigest(std::string_view password)
{
    return Md5Hex(password);
}

int ParseCompanies(std::string_view body, std::vector<CompanyInfo>& companies)
{
    Json::Value root;
    if (!ParseJson(body, root) || !root.isArray())
        return ACCOUNT_BAD_ANSWER;
    size_t before = companies.size();
    for (const Json::Value& element : root)
        if (element.isObject())
            companies.push_back({MemberText(element, "comp_id"), MemberText(element, "compname"),
                                 MemberText(element, "role_id")});
    return companies.size() > before ? ACCOUNT_OK : ACCOUNT_UNUSABLE;
}

int ParseLoginAnswer(std::string_view body)
{
    Json::Value root;
    if (!ParseJson(body, root) || !root.isObject())
        return ACCOUNT_BAD_ANSWER;
    return MemberText(root, "result") == "0" ? ACCOUNT_OK : ACCOUNT_UNUSABLE;
}
