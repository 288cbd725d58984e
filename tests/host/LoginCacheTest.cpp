#include "host/LoginCache.h"

#include <gtest/gtest.h>

namespace nubo {
namespace {

using namespace std::chrono_literals;

TEST(LoginCache, RemembersOnlyTheSameAccountStoredValueAndPassword) {
    TLoginCache cache(8, 10min);
    const auto t0 = TLoginCache::TClock::now();
    cache.Add("Alice", "$stored", "pw", t0);
    EXPECT_TRUE(cache.Has("alice", "$stored", "pw", t0 + 1s)); // account names ignore case
    EXPECT_FALSE(cache.Has("alice", "$stored", "pw2", t0));
    EXPECT_FALSE(cache.Has("alice", "$changed", "pw", t0)); // a new stored value misses
    EXPECT_FALSE(cache.Has("bob", "$stored", "pw", t0));
    // The parts cannot be shifted into one another.
    cache.Add("a", "b", "c", t0);
    EXPECT_FALSE(cache.Has("a", "bc", "", t0));
    EXPECT_FALSE(cache.Has("ab", "", "c", t0));
}

TEST(LoginCache, EntriesExpireAndTheSizeStaysBounded) {
    TLoginCache cache(4, 10min);
    const auto t0 = TLoginCache::TClock::now();
    cache.Add("u", "s", "pw", t0);
    cache.Add("v", "s", "pw", t0);
    // A hit keeps the entry for another lifetime; an unused one goes.
    EXPECT_TRUE(cache.Has("u", "s", "pw", t0 + 9min));
    EXPECT_FALSE(cache.Has("v", "s", "pw", t0 + 10min));
    EXPECT_TRUE(cache.Has("u", "s", "pw", t0 + 18min));
    EXPECT_FALSE(cache.Has("u", "s", "pw", t0 + 29min));
    EXPECT_EQ(cache.Size(), 0u);

    for (int i = 0; i < 10'000; ++i) cache.Add("u" + std::to_string(i), "s", "pw", t0 + 1ms * i);
    EXPECT_EQ(cache.Size(), 4u);
    EXPECT_TRUE(cache.Has("u9999", "s", "pw", t0 + 10s)); // the newest stay
    EXPECT_FALSE(cache.Has("u0", "s", "pw", t0 + 10s));
    // Adding the same key again keeps one entry, with the later expiry.
    cache.Add("u9999", "s", "pw", t0 + 5min);
    EXPECT_TRUE(cache.Has("u9999", "s", "pw", t0 + 14min));
    EXPECT_LE(cache.Size(), 4u);
}

} // namespace
} // namespace nubo
