#include <gtest/gtest.h>

#include "common/UrlDecode.h"
#include "common/UrlText.h"
#include "common/Utf8ToLocal.h"
#include "tests/support/LocaleScope.h"

TEST(Utf8ToLocal, ConvertsToGbkUnderAGbkLocale)
{
    USE_LOCALE(gbk, TestLocale::Gbk);
    EXPECT_EQ(Utf8ToLocal("会议A"), "\xBB\xE1\xD2\xE9" "A");
    // U+1F600 has no GBK code: it becomes the default character, once per
    // unit of the wide form (UTF-16 on Windows: two).
    EXPECT_EQ(Utf8ToLocal("x\xF0\x9F\x98\x80y"), sizeof(wchar_t) == 2 ? "x??y" : "x?y");
    // A broken sequence becomes "?" (POSIX: one per unreadable byte;
    // Windows: one for the sequence), never a crash.
    std::string broken = Utf8ToLocal("a\xE4\xBC" "b");
    EXPECT_TRUE(broken == "a??b" || broken == "a?b") << broken;
    EXPECT_EQ(Utf8ToLocal(""), "");
}

TEST(Utf8ToLocal, KeepsTextUnderAUtf8Locale)
{
    USE_LOCALE(utf8, TestLocale::Utf8);
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
