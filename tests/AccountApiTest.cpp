#include <cstdlib>
#include <gtest/gtest.h>

#include "services/AccountApi.h"
#include "services/ServiceEndpoint.h"
#include "tests/support/Environment.h"

TEST(PasswordDigest, IsLowercaseHexMd5OfTheBytes)
{
    EXPECT_EQ(PasswordDigest(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(PasswordDigest("abc"), "900150983cd24fb0d6963f7d28e17f72");
    // The bytes as typed in the local code page: GBK "密码" differs from UTF-8.
    EXPECT_NE(PasswordDigest("\xC3\xDC\xC2\xEB"), PasswordDigest("密码"));
}

TEST(AccountUrls, CarryTheTypedNameUnencodedButForUrlSyntax)
{
    ServiceEndpoint account{"127.0.0.1", 8080};
    EXPECT_EQ(CompanyLookupUrl(account, "op@venue.cn"),
              "http://127.0.0.1:8080/orbapi/api/getwwwcompinfo?username=op@venue.cn");
    EXPECT_EQ(LoginUrl(account, "a&comp_id=evil #x", "qv-1", "00ff"),
              "http://127.0.0.1:8080/orbapi/api/login?user_id=a%26comp_id=evil%20%23x"
              "&comp_id=qv-1&password=00ff");
    EXPECT_EQ(CompanyLookupUrl(account, "\xD5\xC5\xC8\xFD"),
              "http://127.0.0.1:8080/orbapi/api/getwwwcompinfo?username=\xD5\xC5\xC8\xFD");
}

TEST(ParseCompanies, ListsEveryCompanyInOrder)
{
    std::vector<CompanyInfo> companies;
    ASSERT_EQ(ParseCompanies(R"([{"comp_id":7,"compname":"甲","role_id":"2"},
                                 {"comp_id":"b","compname":"乙"}])", companies), ACCOUNT_OK);
    ASSERT_EQ(companies.size(), 2u);
    EXPECT_EQ(companies[0].comp_id, "7");
    EXPECT_EQ(companies[0].compname, "甲");
    EXPECT_EQ(companies[1].role_id, "");
}

TEST(ParseCompanies, UnusableAnswersListNothing)
{
    std::vector<CompanyInfo> companies;
    EXPECT_EQ(ParseCompanies("[]", companies), ACCOUNT_UNUSABLE);
    EXPECT_EQ(ParseCompanies("not json", companies), ACCOUNT_BAD_ANSWER);
    EXPECT_EQ(ParseCompanies(R"({"comp_id":"1"})", companies), ACCOUNT_BAD_ANSWER);
    EXPECT_TRUE(companies.empty());
    // Members of the wrong kind read as empty texts; elements that are no
    // objects are skipped.
    ASSERT_EQ(ParseCompanies(R"([{"comp_id":[1],"compname":{"a":1}}, 5])", companies), ACCOUNT_OK);
    ASSERT_EQ(companies.size(), 1u);
    EXPECT_EQ(companies[0].comp_id, "");
    EXPECT_EQ(companies[0].compname, "");
}

TEST(ParseLoginAnswer, AcceptsResultZeroAsNumberOrText)
{
    EXPECT_EQ(ParseLoginAnswer(R"({"result":0})"), ACCOUNT_OK);
    EXPECT_EQ(ParseLoginAnswer(R"({"result":"0","msg":"ok"})"), ACCOUNT_OK);
    EXPECT_EQ(ParseLoginAnswer(R"(/* comment */ {"result":0})"), ACCOUNT_OK);
    EXPECT_EQ(ParseLoginAnswer(R"({"result":"1"})"), ACCOUNT_UNUSABLE);
    EXPECT_EQ(ParseLoginAnswer(R"({"msg":"ok"})"), ACCOUNT_UNUSABLE);
    EXPECT_EQ(ParseLoginAnswer(R"({"result":[0]})"), ACCOUNT_UNUSABLE);
    EXPECT_EQ(ParseLoginAnswer(R"([0])"), ACCOUNT_BAD_ANSWER);
    EXPECT_EQ(ParseLoginAnswer("<html>"), ACCOUNT_BAD_ANSWER);
}

TEST(RetryWhileFailed, TriesSixTimesOnlyWhileTheRequestFails)
{
    int calls = 0;
    EXPECT_EQ(RetryWhileFailed([&] { ++calls; return ACCOUNT_FAILED; }), ACCOUNT_FAILED);
    EXPECT_EQ(calls, 6);
    calls = 0;
    EXPECT_EQ(RetryWhileFailed([&] { return ++calls == 3 ? ACCOUNT_UNUSABLE : ACCOUNT_FAILED; }),
              ACCOUNT_UNUSABLE);
    EXPECT_EQ(calls, 3);
}

TEST(ServiceEndpoint, EnvironmentOverridesHostAndPort)
{
    SetEnv("QUORVEL_MEETING_HOST", "127.0.0.1:18080");
    SetEnv("QUORVEL_RESOURCE_HOST", "resources.test");
    UnsetEnv("QUORVEL_ACCOUNT_HOST");
    EXPECT_EQ(MeetingServiceEndpoint().host, "127.0.0.1");
    EXPECT_EQ(MeetingServiceEndpoint().port, 18080);
    EXPECT_EQ(ResourceServiceEndpoint().host, "resources.test");
    EXPECT_EQ(ResourceServiceEndpoint().port, 80);
    EXPECT_EQ(AccountServiceEndpoint().port, 80);
    EXPECT_FALSE(AccountServiceEndpoint().host.empty());
    UnsetEnv("QUORVEL_MEETING_HOST");
    UnsetEnv("QUORVEL_RESOURCE_HOST");
}
