#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

#include "net/ConnectionCache.h"

namespace {

// A host gets six connections at most, however many files ask; another
// host (another port, another scheme) has six of its own.
TEST(ConnectionCacheTest, EachHostGetsSixConnectionsAtMost)
{
    CConnectionCache pool;
    const char* const hosts[] = {"http://a.test/x", "http://a.test:8080/x", "https://a.test/x"};
    std::vector<CURL*> out;
    for (const char* url : hosts) {
        for (int i = 0; i < CConnectionCache::kConnectionsPerHost; ++i)
            out.push_back(pool.Take(url));
        EXPECT_EQ(pool.Take(url), nullptr) << url;
    }
    EXPECT_EQ(std::count(out.begin(), out.end(), nullptr), 0);
    EXPECT_EQ(pool.Take("HTTP://A.test:80/other"), nullptr) << "the same host, written otherwise";
    pool.Give(out.front(), true);
    out.front() = pool.Take("http://a.test/y");
    EXPECT_NE(out.front(), nullptr);
    EXPECT_EQ(pool.FilesAtOnce("http://a.test/x"), size_t(CConnectionCache::kConnectionsPerHost));
    for (CURL* easy : out)
        pool.Give(easy, true);
}

}  // namespace
