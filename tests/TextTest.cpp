#include <clocale>
#include <gtest/gtest.h>

#include "common/UrlDecode.h"
#include "common/UrlText.h"
#include "common/Utf8ToLocal.h"

namespace {

// Switches the process locale for one test and back.
class LocaleScope {
public:
    explicit LocaleScope(const char* name) : m_saved(std::setlocale(LC_ALL, nullptr))
    {
        m_ok = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_ALL, m_saved.c_str()); }
    bool ok() const { return m_ok; }

private:
    std::string m_saved;
    bool m_ok;
};

}  // namespace

TEST(Utf8ToLocal, ConvertsToGbkUnderAGbkLocale)
{
    LocaleScope gbk("zh_CN.GBK");
    ASSERT_TRUE(gbk.ok()) << "zh_CN.GBK locale missing (scripts/setup generates it)";
    EXPECT_EQ(Utf8ToLocal("会议A"), "\xBB\xE1\xD2\xE9" "A");
    // U+1F600 has no GBK code: it becomes the default character.
    EXPECT_EQ(Utf8ToLocal("x\xF0\x9F\x98\x80y"), "x?y");
    // A broken sequence becomes one "?" per unreadable byte, never a crash.
    EXPECT_EQ(Utf8ToLocal("a\xE4\xBC" "b"), "a??b");
    EXPECT_EQ(Utf8ToLocal(""), "");
}

TEST(Utf8ToLocal, KeepsTextUnderAUtf8Locale)
{
    LocaleScope utf8("C.UTF-8");
    ASSERT_TRUE(utf8.ok());
    EXPECT_EQ(Utf8ToLocal("会议 A"), "会议 A");
    EXPECT_EQ(Utf8ToLocal("\xFF"), "\xEF\xBF\xBD");  // U+FFFD is representable in UTF-8
}

TEST(UrlDecode, DecodesFormStyle)
{
    EXPECT_EQ(UrlDecode("a+b%20c"), "a b c");
    EXPECT_EQ(UrlDecode("%E4%BC%9A"), "\xE4\xBC\x9A");
    EXPECT_EQ(UrlDecode("%e4"), "\xE4");
    // No validation: 'z' counts 35, so "%zz" is (16*35+35) mod 256 = 'S'.
    EXPECT_EQ(UrlDecode("%zz"), "S");
    EXPECT_EQ(HexValue('!'), '!');
}

TEST(UrlDecode, NeverReadsPastTheEndAfterAPercent)
{
    EXPECT_EQ(UrlDecode("abc%"), "abc%");
    EXPECT_EQ(UrlDecode("abc%4"), "abc%4");
    EXPECT_EQ(UrlDecode("%"), "%");
    EXPECT_EQ(UrlDecode("%41%"), "A%");
    // string_view without a NUL after it: only its own bytes are read.
    const char text[] = {'%', '4', '1', '%', '4'};
    EXPECT_EQ(UrlDecode(std::string_view(text, sizeof text)), "A%4");
}

TEST(EscapeUrlText, EncodesOnlyWhatChangesTheUrl)
{
    EXPECT_EQ(EscapeUrlText("a b#c&d%e+f?g"), "a%20b%23c%26d%25e%2Bf%3Fg");
    EXPECT_EQ(EscapeUrlText(std::string("x\n\x01\x7Fy", 5)), "x%0A%01%7Fy");
    EXPECT_EQ(EscapeUrlText(std::string("\0z", 2)), "%00z");
    EXPECT_EQ(EscapeUrlText("\xD5\xC5@mail.cn"), "\xD5\xC5@mail.cn");
    std::string longName(5000, 'n');
    EXPECT_EQ(EscapeUrlText(longName), longName);
}
