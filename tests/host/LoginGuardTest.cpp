#include "host/LoginGuard.h"

#include <gtest/gtest.h>

namespace nubo {
namespace {

using namespace std::chrono_literals;
using TClock = TLoginGuard::TClock;

TLoginGuardLimits Limits(int64_t failures, std::chrono::seconds window, std::chrono::seconds banTime,
                         bool loopback = false) {
    return {failures, window, banTime, loopback};
}

TEST(LoginGuard, BansAfterTheFailuresOfOneWindowAndLiftsAtItsEnd) {
    TLoginGuard guard;
    guard.SetLimits(Limits(3, 60s, 100s));
    const auto t0 = TClock::now();
    EXPECT_FALSE(guard.Failed("203.0.113.5", t0));
    EXPECT_FALSE(guard.Failed("203.0.113.5", t0 + 10s));
    EXPECT_FALSE(guard.Banned("203.0.113.5", t0 + 10s));
    EXPECT_TRUE(guard.Failed("203.0.113.5", t0 + 20s)); // the third starts the ban, once
    EXPECT_FALSE(guard.Failed("203.0.113.5", t0 + 21s));
    EXPECT_TRUE(guard.Banned("203.0.113.5", t0 + 21s));
    EXPECT_FALSE(guard.Banned("203.0.113.6", t0 + 21s)); // others are not touched

    const auto bans = guard.Bans(t0 + 30s);
    ASSERT_EQ(bans.size(), 1u);
    EXPECT_EQ(bans[0].Address, "203.0.113.5");
    EXPECT_EQ(bans[0].Failures, 3);
    EXPECT_EQ(bans[0].Ends, t0 + 120s);

    EXPECT_TRUE(guard.Banned("203.0.113.5", t0 + 119s));
    EXPECT_FALSE(guard.Sweep(t0 + 119s));
    EXPECT_TRUE(guard.Sweep(t0 + 120s));
    EXPECT_FALSE(guard.Banned("203.0.113.5", t0 + 120s));
    EXPECT_TRUE(guard.Bans(t0 + 120s).empty());
    // After the ban the count starts from nothing.
    EXPECT_FALSE(guard.Failed("203.0.113.5", t0 + 121s));
    EXPECT_FALSE(guard.Failed("203.0.113.5", t0 + 122s));
    EXPECT_TRUE(guard.Failed("203.0.113.5", t0 + 123s));
}

TEST(LoginGuard, FailuresSpreadBeyondTheWindowEarnNoBan) {
    TLoginGuard guard;
    guard.SetLimits(Limits(3, 60s, 100s));
    const auto t0 = TClock::now();
    for (int i = 0; i < 10; ++i) EXPECT_FALSE(guard.Failed("198.51.100.1", t0 + 31s * i)) << i;
    EXPECT_FALSE(guard.Banned("198.51.100.1", t0 + 400s));
    EXPECT_LE(guard.CounterCount(), 1u);
}

TEST(LoginGuard, SettingsThatSwitchBansOff) {
    const auto t0 = TClock::now();
    struct Case {
        const char* name;
        TLoginGuardLimits limits;
        const char* address;
        bool banned;
    } cases[] = {
        {"no bans", Limits(0, 60s, 100s), "192.0.2.1", false},
        {"IPv4 loopback", Limits(2, 60s, 100s), "127.0.0.1", false},
        {"other 127/8", Limits(2, 60s, 100s), "127.8.9.10", false},
        {"IPv6 loopback", Limits(2, 60s, 100s), "::1", false},
        {"mapped loopback", Limits(2, 60s, 100s), "::ffff:127.0.0.1", false},
        {"loopback allowed", Limits(2, 60s, 100s, true), "127.0.0.1", true},
        {"IPv6 address", Limits(2, 60s, 100s), "2001:db8::7", true},
        {"128.0.0.1 is no loopback", Limits(2, 60s, 100s), "128.0.0.1", true},
    };
    for (const Case& c : cases) {
        TLoginGuard guard;
        guard.SetLimits(c.limits);
        for (int i = 0; i < 5; ++i) guard.Failed(c.address, t0 + 1s * i);
        EXPECT_EQ(guard.Banned(c.address, t0 + 10s), c.banned) << c.name;
        EXPECT_EQ(guard.Bans(t0 + 10s).size(), c.banned ? 1u : 0u) << c.name;
    }

    // Switching bans off lifts those in force; forbidding loopback bans hides them.
    TLoginGuard guard;
    guard.SetLimits(Limits(1, 60s, 100s, true));
    guard.Failed("127.0.0.1", t0);
    guard.Failed("192.0.2.9", t0);
    guard.SetLimits(Limits(1, 60s, 100s, false));
    EXPECT_FALSE(guard.Banned("127.0.0.1", t0 + 1s));
    EXPECT_TRUE(guard.Banned("192.0.2.9", t0 + 1s));
    guard.SetLimits(Limits(0, 60s, 100s));
    EXPECT_FALSE(guard.Banned("192.0.2.9", t0 + 1s));
}

TEST(LoginGuard, LiftEndsABanAndTheCount) {
    TLoginGuard guard;
    guard.SetLimits(Limits(2, 60s, 100s));
    const auto t0 = TClock::now();
    guard.Failed("192.0.2.1", t0);
    guard.Failed("192.0.2.1", t0);
    guard.Failed("192.0.2.2", t0);
    EXPECT_TRUE(guard.Lift("192.0.2.1"));
    EXPECT_FALSE(guard.Lift("192.0.2.1"));
    EXPECT_FALSE(guard.Banned("192.0.2.1", t0 + 1s));
    EXPECT_FALSE(guard.Failed("192.0.2.1", t0 + 1s)); // one fresh failure is not a ban
    EXPECT_FALSE(guard.Lift("192.0.2.2"));            // counted, not banned
    EXPECT_FALSE(guard.Failed("192.0.2.2", t0 + 1s)); // and the lift of another cleared its count
}

TEST(LoginGuard, AFloodOfAddressesStaysBounded) {
    TLoginGuard guard(1000);
    guard.SetLimits(Limits(2, 600s, 3600s));
    const auto t0 = TClock::now();
    // Ten thousand addresses fail twice each, and a flood of single failures follows.
    auto address = [](int i) {
        return "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
    };
    for (int i = 0; i < 10'000; ++i)
        for (int k = 0; k < 2; ++k) guard.Failed(address(i), t0 + 1ms * i);
    for (int i = 10'000; i < 20'000; ++i) guard.Failed(address(i), t0 + 10s + 1ms * i);
    EXPECT_LE(guard.CounterCount(), 1000u);
    EXPECT_LE(guard.BanCount(), 1000u);
    EXPECT_EQ(guard.Bans(t0 + 30s).size(), guard.BanCount());
    // The newest ban is kept when the oldest make room.
    EXPECT_TRUE(guard.Banned("10.0.39.15", t0 + 30s)); // address 9999

    // Everything goes once it has expired.
    guard.Sweep(t0 + 2h);
    EXPECT_EQ(guard.CounterCount(), 0u);
    EXPECT_EQ(guard.BanCount(), 0u);
}

} // namespace
} // namespace nubo
