#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

#include "net/ConnectionCache.h"

namespace {

// The pool hands out four connections at most, however many files ask.
TEST(ConnectionCacheTest, HandsOutFourConnectionsAtMost)
{
    CConnectionCache pool;
    std::vector<CURL*> out;
    for (int i = 0; i < 4; ++i)
        out.push_back(pool.Take());
    EXPECT_EQ(std::count(out.begin(), out.end(), nullptr), 0);
    EXPECT_EQ(pool.Take(), nullptr);
    pool.Give(out.back(), true);
    out.back() = pool.Take();
    EXPECT_NE(out.back(), nullptr);
    for (CURL* easy : out)
        pool.Give(easy, true);
}

}  // namespace
