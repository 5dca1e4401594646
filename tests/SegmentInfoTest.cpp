#include <gtest/gtest.h>
#include <limits>

#include "net/ContentRange.h"
#include "net/SegmentInfo.h"
#include "net/SideFile.h"
#include "tests/support/TempDir.h"

namespace {

void ExpectSegment(const SegmentInfo& s, int64_t start, int64_t end)
{
    EXPECT_EQ(s.start, start);
    EXPECT_EQ(s.end, end);
    EXPECT_EQ(s.done, 0);
}

}  // namespace

TEST(PlanSegments, SplitsIntoFourSegmentsOfWholeKilobytes)
{
    auto plan = PlanSegments(10000000);
    ASSERT_EQ(plan.size(), 4u);
    ExpectSegment(plan[0], 0, 2500607);
    ExpectSegment(plan[1], 2500608, 5001215);
    ExpectSegment(plan[2], 5001216, 7501823);
    ExpectSegment(plan[3], 7501824, 9999999);

    plan = PlanSegments(1048576);
    ASSERT_EQ(plan.size(), 4u);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(plan[k].Length(), 263168);
    EXPECT_EQ(plan[3].end, 1048575);
}

TEST(PlanSegments, SmallAndEmptyFilesTakeOneSegment)
{
    auto plan = PlanSegments(1048575);
    ASSERT_EQ(plan.size(), 1u);
    ExpectSegment(plan[0], 0, 1048574);

    plan = PlanSegments(0);
    ASSERT_EQ(plan.size(), 1u);
    ExpectSegment(plan[0], 0, -1);
    EXPECT_TRUE(plan[0].Finished());
}

TEST(PlanSegments, FilesOf2GiBAndMoreKeepTheirTrueOffsets)
{
    int64_t size = 5LL << 30;
    auto plan = PlanSegments(size);
    ASSERT_EQ(plan.size(), 4u);
    EXPECT_EQ(plan[3].end, size - 1);
    EXPECT_GT(plan[3].start, 3LL << 30);
    EXPECT_TRUE(SegmentsCoverFile(plan, size));
}

TEST(SegmentRecords, AreLittleEndian32ByteRecordsAndLoadIdle)
{
    std::vector<SegmentInfo> segments = {{0x0102030405060708LL, 9, 0x1122334455667788LL, SEGMENT_TAKEN}};
    std::string bytes = EncodeSegments(segments);
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x08\x07\x06\x05\x04\x03\x02\x01", 8));
    EXPECT_EQ(bytes.substr(8, 8), std::string("\x09\0\0\0\0\0\0\0", 8));
    EXPECT_EQ(bytes.substr(16, 8), std::string("\x88\x77\x66\x55\x44\x33\x22\x11", 8));
    EXPECT_EQ(bytes.substr(24, 8), std::string("\x01\0\0\0\0\0\0\0", 8));

    std::vector<SegmentInfo> loaded;
    ASSERT_TRUE(DecodeSegments(bytes, loaded));
    EXPECT_EQ(loaded[0].start, segments[0].start);
    EXPECT_EQ(loaded[0].done, 9);
    EXPECT_EQ(loaded[0].state, SEGMENT_IDLE);
    EXPECT_FALSE(DecodeSegments(bytes.substr(0, 31), loaded));
    EXPECT_FALSE(DecodeSegments(std::string(160, '\0'), loaded));

    // The identity in the first record's reserved bytes, little-endian.
    std::string marked = EncodeSegments({segments[0], segments[0]}, 0x00AABBCCDDEEFF11ULL);
    EXPECT_EQ(marked.substr(24, 8), std::string("\x01\x11\xFF\xEE\xDD\xCC\xBB\xAA", 8));
    EXPECT_EQ(marked.substr(56, 8), std::string("\x01\0\0\0\0\0\0\0", 8)) << "the other records keep zeros";
    uint64_t identity = 0;
    ASSERT_TRUE(DecodeSegments(marked, loaded, &identity));
    EXPECT_EQ(identity, 0x00AABBCCDDEEFF11ULL);
}

TEST(SideFile, IdentityTellsFilesAndVersionsApart)
{
    uint64_t a = SideFileIdentity("http://h/a.bin", "\"v1\"");
    EXPECT_NE(a, 0u);
    EXPECT_LT(a, uint64_t(1) << 56);
    EXPECT_EQ(a, SideFileIdentity("http://h/a.bin", "\"v1\""));
    EXPECT_NE(a, SideFileIdentity("http://h/b.bin", "\"v1\""));
    EXPECT_NE(a, SideFileIdentity("http://h/a.bin", "\"v2\""));
    EXPECT_NE(SideFileIdentity("http://h/a", "b"), SideFileIdentity("http://h/ab", ""));
}

TEST(SideFile, IsTrustedOnlyWhenItCoversThisFileExactly)
{
    TempDir dir;
    std::string path = dir / "a.info";
    std::vector<SegmentInfo> plan = PlanSegments(10000000);
    plan[1].done = 1000;
    const uint64_t identity = SideFileIdentity("http://h/a", "");
    ASSERT_TRUE(SaveSideFile(path, plan, identity));
    EXPECT_FALSE(FileExists(path + ".new"));

    std::vector<SegmentInfo> loaded;
    ASSERT_TRUE(LoadSideFile(path, 10000000, identity, loaded));
    EXPECT_EQ(loaded[1].done, 1000);
    EXPECT_FALSE(LoadSideFile(path, 10000001, identity, loaded)) << "another size";
    EXPECT_FALSE(LoadSideFile(path, 10000000, identity + 1, loaded)) << "another file of that size";
    ASSERT_TRUE(SaveSideFile(path, plan, 0));
    EXPECT_FALSE(LoadSideFile(path, 10000000, 0, loaded)) << "an older side file, naming no file";

    auto broken = plan;
    broken[2].start += 1;  // a gap
    EXPECT_FALSE(SegmentsCoverFile(broken, 10000000));
    broken = plan;
    broken[0].done = broken[0].Length() + 1;  // claims more than the segment holds
    EXPECT_FALSE(SegmentsCoverFile(broken, 10000000));
    broken = plan;
    broken[3].done = -1;
    EXPECT_FALSE(SegmentsCoverFile(broken, 10000000));
    broken.pop_back();  // a short side file must not pass as complete
    EXPECT_FALSE(SegmentsCoverFile(broken, 10000000));
    // Extreme numbers are refused without overflowing (UBSan watches).
    const int64_t max = std::numeric_limits<int64_t>::max(), min = std::numeric_limits<int64_t>::min();
    for (SegmentInfo hostile : {SegmentInfo{0, 0, max, 0}, SegmentInfo{0, max, max, 0}, SegmentInfo{0, min, 5, 0},
                                SegmentInfo{0, 0, min, 0}, SegmentInfo{min, 0, max, 0}})
        EXPECT_FALSE(SegmentsCoverFile({hostile}, 10000000));
    EXPECT_TRUE(SegmentsCoverFile({SegmentInfo{0, 0, max - 1, 0}}, max)) << "the largest size, still defined";

    ASSERT_TRUE(SaveSideFile(path, {}, identity));
    EXPECT_FALSE(LoadSideFile(path, 0, identity, loaded));
}

TEST(ContentRange, AcceptsOnlyAWellFormedSingleRange)
{
    ContentRange range;
    ASSERT_TRUE(ParseContentRange(" bytes 100-199/5368709120\r\n", range));
    EXPECT_EQ(range.start, 100);
    EXPECT_EQ(range.end, 199);
    EXPECT_EQ(range.total, 5368709120LL);
    ASSERT_TRUE(ParseContentRange("bytes 0-0/*", range));
    EXPECT_EQ(range.total, -1);
    for (const char* bad : {"bytes 5-4/10", "bytes 0-10/10", "bytes */10", "items 0-1/2", "bytes 0-1/2x", ""})
        EXPECT_FALSE(ParseContentRange(bad, range)) << bad;
}

