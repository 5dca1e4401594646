// Service answers a broken or hostile service may send: every parser reads
// them as an unusable answer and never throws or aborts.
#include <gtest/gtest.h>
#include <string>

#include "services/AccountApi.h"
#include "services/ServiceLists.h"
#include "tests/support/ParamName.h"

namespace {

struct HostileAnswer {
    const char* what;
    std::string body;
};

const HostileAnswer kHostileAnswers[] = {
    {"deep array nesting", std::string(100000, '[')},
    {"deep object nesting", [] {
         std::string s;
         for (int i = 0; i < 50000; ++i)
             s += "{\"a\":";
         return s;
     }()},
    {"nesting inside data", R"({"code":0,"data":)" + std::string(100000, '[')},
    {"a number at the top", "42"},
    {"a string at the top", "\"0\""},
    {"data an object", R"({"code":0,"data":{"url":"http://h/a","meet_id":"m"}})"},
    {"members of every kind", R"({"code":[0],"result":{"r":0},"data":[null,true,1.5,"x",[],{}]})"},
    {"an array of arrays", "[[1],[2]]"},
    {"cut short", R"({"code":0,"data":[{"url":"http://h/a")"},
    {"nothing", ""},
    {"NUL and junk", std::string("{\"code\":0,\0\xff\xfe", 14)},
};

class HostileAnswerTest : public ::testing::TestWithParam<HostileAnswer> {};

TEST_P(HostileAnswerTest, EveryParserReadsItAsUnusable)
{
    const std::string& body = GetParam().body;
    std::vector<CompanyInfo> companies;
    EXPECT_NE(ParseCompanies(body, companies), ACCOUNT_OK);
    EXPECT_NE(ParseLoginAnswer(body), ACCOUNT_OK);
    bool meetingsAnswered = true, resourcesAnswered = true;
    EXPECT_TRUE(ParseMeetingList(body, &meetingsAnswered).empty());
    EXPECT_TRUE(ParseResourceList(body, &resourcesAnswered).empty());
    EXPECT_FALSE(meetingsAnswered);
    EXPECT_FALSE(resourcesAnswered);
}

INSTANTIATE_TEST_SUITE_P(Answers, HostileAnswerTest, ::testing::ValuesIn(kHostileAnswers),
                         [](const auto& info) { return ParamName(info.param.what); });

}  // namespace
