#include <gtest/gtest.h>
#include <set>

#include "tests/support/CachingJobFixture.h"

namespace {

// The caching job against a host that speaks HTTP/2 (nginx in front of the
// content server; its suite name says so, for the front's certificate).
class CachingJobHttp2Test : public CachingJobTest {};

// Many small rows of one HTTP/2 host are in flight at once, as streams of
// one connection, far more than HTTP/1.1's six; each row shows its own
// status and ends byte-exact.
TEST_F(CachingJobHttp2Test, ManySmallRowsAreInFlightAsStreamsOfOneConnection)
{
    ASSERT_TRUE(h.ThroughHttp2Front()) << h.front->Failure();
    for (int i = 0; i < 40; ++i)
        Add("h" + std::to_string(i) + ".bin", 100000, "doc", "", 100000, "rate=100000");
    ASSERT_TRUE(m_job.Start());
    size_t most = MostCachingAtOnce();
    ASSERT_TRUE(m_view.Reached(Phase::Complete));
    EXPECT_EQ(most, CConnectionCache::kFilesOnHttp2);
    ExpectEachCachedOnce(100000);
    std::set<long> connections;
    for (const Http2Front::Logged& request : h.front->Log()) {
        EXPECT_EQ(request.protocol, "HTTP/2.0");
        connections.insert(request.connection);
    }
    EXPECT_EQ(connections.size(), 1u);
}

}  // namespace
