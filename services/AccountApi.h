// The account service's two requests, without any window: the URLs, the
// password digest, and how the answers are read. CLoginDlg sends them.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "services/ServiceEndpoint.h"

// One company the user belongs to, texts as received (UTF-8).
struct CompanyInfo {
    std::string comp_id;
    std::string compname;
    std::string role_id;
};

// Results of one lookup or one login request.
enum AccountResult {
    ACCOUNT_OK = 0,        // companies listed / login accepted
    ACCOUNT_FAILED = 1,    // the request failed: worth another attempt
    ACCOUNT_UNUSABLE = 2,  // the answer was refused, empty or unreadable
    ACCOUNT_TIMED_OUT = 3, // no answer in time: not tried again
    ACCOUNT_BAD_ANSWER = 4, // an answer that is not what the service sends (not JSON, wrong shape)
};

// What an AccountResult means, for the log.
const char* AccountResultText(int result);

constexpr int kAccountMaxAttempts = 6;
constexpr int kCompanyAnswerSize = 262144;
constexpr int kLoginAnswerSize = 65536;

// Calls `attempt` until it returns something other than ACCOUNT_FAILED, at
// most kAccountMaxAttempts times, 1 ms apart; returns the last result.
int RetryWhileFailed(const std::function<int()>& attempt);

std::string CompanyLookupUrl(const ServiceEndpoint& service, std::string_view userName);
std::string LoginUrl(const ServiceEndpoint& service, std::string_view userName,
                     std::string_view compId, std::string_view passwordDigest);

// MD5 of the password's bytes as 32 lowercase hex digits.
std::string PasswordDigest(std::string_view password);

// Appends the companies of a lookup answer (a JSON array of objects;
// elements of other kinds are skipped) in order: ACCOUNT_OK when it listed
// at least one, ACCOUNT_UNUSABLE when none (an unknown user), and
// ACCOUNT_BAD_ANSWER for anything but a JSON array.
int ParseCompanies(std::string_view body, std::vector<CompanyInfo>& companies);

// ACCOUNT_OK when the answer is an object whose "result" reads "0",
// ACCOUNT_BAD_ANSWER when it is no JSON object, else ACCOUNT_UNUSABLE.
int ParseLoginAnswer(std::string_view body);
