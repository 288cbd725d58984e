#include "socket/InetAddress.h"

#include <gtest/gtest.h>

namespace nubo {
namespace {

TEST(InetAddress, ParseAndTextOfBothFamilies) {
    const struct {
        const char* text;
        bool ok;
        const char* shown; // Text() after parsing
    } cases[] = {
        {"127.0.0.1", true, "127.0.0.1"},
        {"0.0.0.0", true, "0.0.0.0"},
        {"255.255.255.255", true, "255.255.255.255"},
        {"1.2.3", false, ""},
        {"1.2.3.256", false, ""},
        {"01.2.3.4", true, "1.2.3.4"},
        {"1.2.3.4 ", false, ""},
        {"::1", true, "::1"},
        {"[::1]", true, "::1"},
        {"2001:DB8:0:0::1", true, "2001:db8::1"},
        {"::ffff:10.1.2.3", true, "10.1.2.3"}, // a mapped address reads as its IPv4 one
        {"fe80::1%eth0", false, ""},
        {"1::2::3", false, ""},
        {"[::1", false, ""},
        {"", false, ""},
        {"localhost", false, ""},
    };
    for (const auto& c : cases) {
        TInetAddress a;
        EXPECT_EQ(TInetAddress::Parse(c.text, a), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(a.Text(), c.shown) << c.text;
        }
    }
    TInetAddress a;
    ASSERT_TRUE(TInetAddress::Parse("::1", a));
    a.SetPort(2121);
    EXPECT_EQ(a.Port(), 2121);
    EXPECT_TRUE(TInetAddress::Any(AF_INET6).IsAny());
    EXPECT_TRUE(TInetAddress::Any(AF_INET).IsAny());
    EXPECT_FALSE(a.IsAny());
}

TEST(InetAddress, LocalNetworks) {
    const struct {
        const char* text;
        bool local;
    } cases[] = {
        {"127.0.0.1", true},       {"127.9.9.9", true},    {"10.0.0.1", true},     {"172.16.0.1", true},
        {"172.31.255.254", true},  {"172.32.0.1", false},  {"172.15.0.1", false},  {"192.168.1.1", true},
        {"192.169.1.1", false},    {"169.254.3.4", true},  {"100.64.0.1", true},   {"100.128.0.1", false},
        {"8.8.8.8", false},        {"203.0.113.7", false}, {"::1", true},          {"fe80::1", true},
        {"fd00::1", true},         {"fc00::1", true},      {"2001:db8::1", false}, {"::ffff:192.168.0.1", true},
        {"::ffff:8.8.8.8", false},
    };
    for (const auto& c : cases) {
        TInetAddress a;
        ASSERT_TRUE(TInetAddress::Parse(c.text, a)) << c.text;
        EXPECT_EQ(a.IsLocalNetwork(), c.local) << c.text;
    }
}

} // namespace
} // namespace nubo
