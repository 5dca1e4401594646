#include <limits>
#include <gtest/gtest.h>
#include <string>

#include "cache/Figures.h"
#include "common/FileSystem.h"
#include "tests/support/LocaleScope.h"

TEST(FormatSize, BoundariesBelongToTheLowerUnit)
{
    EXPECT_EQ(FormatSize(0), "0B");
    EXPECT_EQ(FormatSize(-5), "-5B");
    EXPECT_EQ(FormatSize(1024), "1024B");
    EXPECT_EQ(FormatSize(1025), "1.00KB");
    EXPECT_EQ(FormatSize(1048576), "1024.00KB");
    EXPECT_EQ(FormatSize(1048577), "1.00MB");
    EXPECT_EQ(FormatSize(1073741824), "1024.00MB");
    EXPECT_EQ(FormatSize(1073741825), "1.00G");
    EXPECT_EQ(FormatSize(5LL << 40), "5120.00G");
}

TEST(Figures, DiskSpaceAndElapsedTime)
{
    EXPECT_EQ(DiskSpaceText(123456789012), "磁盘剩余:114.98G");
    EXPECT_EQ(ElapsedText(0), "0:00:00");
    EXPECT_EQ(ElapsedText(59), "0:00:59");
    EXPECT_EQ(ElapsedText(3725), "1:02:05");
    EXPECT_EQ(ElapsedText(-5), "0:00:00") << "a clock set back";
    EXPECT_EQ(ElapsedText(100 * 3600), "100:00:00");
    EXPECT_GT(fsys::FreeBytes("/"), 0);
    EXPECT_EQ(fsys::FreeBytes("/no/such/directory"), -1);
}

TEST(Figures, TheDecimalMarkIsAPointUnderEveryLocale)
{
    std::string disk, kilo;
    {
        USE_LOCALE(comma, TestLocale::CommaDecimal);
        disk = DiskSpaceText(123456789012);
        kilo = FormatSize(1536);
    }
    EXPECT_EQ(disk, "磁盘剩余:114.98G");
    EXPECT_EQ(kilo, "1.50KB");
}

TEST(Figures, PercentDividesFirstThenTruncates)
{
    EXPECT_EQ(Percent(29, 100), 28);
    EXPECT_EQ(Percent(1, 3), 33);
    EXPECT_EQ(Percent(2, 3), 66);
    EXPECT_EQ(Percent(3, 3), 100);
    EXPECT_EQ(Percent(150, 100), 100) << "a file larger than declared fills the bar";
    EXPECT_EQ(Percent(std::numeric_limits<int64_t>::max(), 1), 100);
    EXPECT_EQ(Percent(-5, 100), 0);
    EXPECT_EQ(Percent(5, 0), 0);
    EXPECT_EQ(Percent(3LL << 31, 6LL << 31), 50);
}
