// The demo services' fixed data set: one demo user in two companies,
// meetings of every status, resources of several types and modules with
// Chinese names. The same every run, so screenshots and tests can rely on it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DemoCompany {
    std::string comp_id;
    std::string compname;
    std::string role_id;
};

struct DemoUser {
    std::string user_id;   // e-mail address or mobile number
    std::string password;  // clear text; the login compares its MD5
    std::vector<DemoCompany> companies;
};

struct DemoResource {
    std::string name;
    std::string type;
    std::string module;
    std::string file;  // file name in the URL, percent-encoded UTF-8
    int64_t size;
};

struct DemoMeeting {
    std::string comp_id;
    std::string meet_id;
    std::string meet_name;
    int status;
    std::vector<DemoResource> resources;
};

const std::vector<DemoUser>& DemoUsers();
const std::vector<DemoMeeting>& DemoMeetings();

// The demo user printed in the README.
constexpr const char* kDemoUser = "demo@quorvel.test";
constexpr const char* kDemoPassword = "quorvel2026";
