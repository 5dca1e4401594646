#include <gtest/gtest.h>

#include "services/ServiceLists.h"
#include "tests/support/LocaleScope.h"

TEST(ParseMeetingList, ReadsRowsInOrderWithStatusWords)
{
    auto rows = ParseMeetingList(R"({"code":0,"data":[
        {"meet_id":"a","meet_name":"会议","status":0},
        {"meet_id":42,"meet_name":"b","status":"1"},
        {"meet_id":"c","status":2}, {"meet_id":"d","status":3},
        {"meet_id":"e","status":9}, {"meet_id":"f","status":"01"}, {"meet_id":"g"}]})");
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[1].meet_id, "42");
    const char* words[] = {"未设置", "开启", "关闭", "删除", "未知", "未知", "未知"};
    for (size_t i = 0; i < rows.size(); ++i)
        EXPECT_STREQ(rows[i].status.c_str(), words[i]) << i;
    EXPECT_EQ(rows[2].name, "");
}

TEST(ParseMeetingList, FailedAnswersGiveNoRows)
{
    EXPECT_TRUE(ParseMeetingList(R"({"code":"0","data":[]})").empty());
    EXPECT_TRUE(ParseMeetingList(R"({"code":1,"data":[{"meet_id":"a"}]})").empty());
    EXPECT_TRUE(ParseMeetingList(R"({"code":0})").empty());
    EXPECT_TRUE(ParseMeetingList(R"({"code":0,"data":{"meet_id":"a"}})").empty());
    EXPECT_TRUE(ParseMeetingList(R"([{"code":0}])").empty());
    EXPECT_TRUE(ParseMeetingList("<html>").empty());
    EXPECT_EQ(ParseMeetingList(R"({"code":0,"data":[7,{"meet_id":[1],"meet_name":{}}]})").size(), 1u);
}

TEST(ParseMeetingList, ConvertsNamesToTheLocalCodePage)
{
    std::vector<MeetingRow> rows;
    {
        USE_LOCALE(gbk, TestLocale::Gbk);
        rows = ParseMeetingList(R"({"code":0,"data":[{"meet_id":"a","meet_name":"会议"}]})");
    }
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].name, "\xBB\xE1\xD2\xE9");
}

TEST(ParseResourceList, SkipsElementsWithoutUrlAndKeepsTheOrder)
{
    auto items = ParseResourceList(R"({"code":"0","data":[
        {"url":"http://h/1.mp4","name":"一","type":"video","module":"m","md5":"x","size":"123"},
        {"url":"","name":"skipped"},
        {"name":"no url"},
        {"url":"http://h/3.pdf","name":"三","type":"doc","size":123}]})");
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].url, "http://h/1.mp4");
    EXPECT_EQ(items[0].module, "m");
    EXPECT_EQ(items[0].md5, "x");
    EXPECT_EQ(items[1].url, "http://h/3.pdf");
    EXPECT_EQ(items[0].size, items[1].size);
    EXPECT_EQ(items[1].status, STATUS_NOT_STARTED);
    EXPECT_EQ(items[1].downloaded, 0);
}

TEST(ParseResourceList, ReadsSizesAsSigned64BitLeadingDigits)
{
    EXPECT_EQ(ParseSize("123abc"), 123);
    EXPECT_EQ(ParseSize(""), 0);
    EXPECT_EQ(ParseSize("abc"), 0);
    EXPECT_EQ(ParseSize("-5"), -5);
    EXPECT_EQ(ParseSize(" +7"), 7);
    EXPECT_EQ(ParseSize("5368709120"), 5368709120LL);
    EXPECT_EQ(ParseSize("99999999999999999999999"), INT64_MAX);
    auto items = ParseResourceList(R"({"code":0,"data":[{"url":"u","size":[1]},{"url":"v"},
                                      {"url":["w"]},{"url":"x","type":{"a":1}}]})");
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].size, 0);
    EXPECT_EQ(items[2].type, "");
    EXPECT_TRUE(ParseResourceList(R"({"code":0,"data":"u"})").empty());
}

