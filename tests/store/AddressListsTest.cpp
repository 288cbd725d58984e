#include "store/AddressLists.h"

#include <gtest/gtest.h>

#include "tests/support/TempDir.h"

namespace nubo {
namespace {

using test::ReadBytes;
using test::TTempDir;
using test::WriteBytes;

TEST(MatchPattern, Cases) {
    const struct {
        const char* address;
        const char* pattern;
        bool match;
    } cases[] = {
        {"192.168.0.5", "192.168.0.*", true},
        {"192.168.0.5", "192.168.0.5", true},
        {"192.168.0.6", "192.168.0.5", false},
        {"10.0.0.1", "10.0.0.1*", true},
        {"10.0.0.12", "10.0.0.1*", true},
        {"10.0.0.123", "10.0.0.1*", true},
        {"10.0.0.7", "10.0.0.?", true},
        {"10.0.0.17", "10.0.0.?", false},
        {"10.0.0.1", "1*1", true},
        {"10.0.0.2", "1*1", false},
        {"1.2.3.4", "*", true},
        {"", "*", true},
        {"", "", true}, // the empty value that ends a list matches only ""
        {"1.2.3.4", "", false},
        {"1.2.3.4", "1.2.3.4.", false},
        {"1.2.3.4", "1.2.3", false},
        {"1.2.3.4", "*.4", true},
        {"1.2.3.4", "*.5", false},
        {"1.2.3.4", "1.2.3.4*", true},   // a final star matches the empty rest
        {"1.2.3.4", "1.2.3.4**", false}, // but two stars at the very end do not
        {"1.2.3.4", "1.2.3.4?", false},
        {"abc", "ABC", false}, // case-sensitive
        {"1.2.3.4", "**4", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MatchPattern(c.address, c.pattern), c.match) << c.address << " ~ " << c.pattern;
}

TEST(MatchPattern, ManyStarsStayFastAndLongInputIsCut) {
    const std::string address(255, 'a');
    std::string pattern;
    for (int i = 0; i < 120; ++i) pattern += "*a";
    EXPECT_FALSE(MatchPattern(address, pattern + "b"));
    EXPECT_TRUE(MatchPattern(address, pattern));
    // Only the first 255 characters of each side take part.
    EXPECT_TRUE(MatchPattern(std::string(255, 'a') + "b", std::string(255, 'a')));
    EXPECT_TRUE(MatchPattern(std::string(255, 'a'), std::string(255, 'a') + "zzz"));
}

TEST(AccessCheck, IPv6AddressesAndPrefixes) {
    const struct {
        const char* address;
        const char* entry;
        bool denied;
    } cases[] = {
        {"2001:db8::1", "2001:db8::1", true},
        {"2001:db8::1", "2001:DB8:0:0::1", true}, // another spelling of the same address
        {"2001:db8::2", "2001:db8::1", false},
        {"2001:db8:ffff::9", "2001:db8::/32", true},
        {"2001:db9::9", "2001:db8::/32", false},
        {"2001:db8::9", "2001:db8::/127", false},
        {"2001:db8::9", "2001:db8::8/127", true},
        {"2001:db8::9", "::/0", true},
        {"10.1.2.3", "::/0", false}, // families never mix
        {"10.1.2.3", "10.0.0.0/8", true},
        {"10.1.2.3", "10.1.2.0/30", true},
        {"10.1.2.4", "10.1.2.0/30", false},
        {"10.1.2.3", "::ffff:10.1.2.3", true}, // a mapped IPv6 address is its IPv4 one
        {"2001:db8::1", "2001:db8::*", true},  // a pattern stays a pattern
        {"2001:db8::1", "2001:db8::/zz", false},
        {"2001:db8::1", "2001:db8::/129", false},
        {"2001:db8::1", "2001:db8:::1", false},
    };
    TTempDir tmp;
    TIniFile config(tmp.File("ftp_config.ini"));
    for (const auto& c : cases) {
        config.WriteString(kDenySection, "IP0", c.entry);
        EXPECT_EQ(!AccessCheck(config, c.address), c.denied) << c.address << " in " << c.entry;
    }
}

TEST(AddressEntries, MalformedAddressesPatternsAndPrefixesAreRefused) {
    for (const char* good : {"10.0.0.*", "1.2.3.4", "2001:db8::1", "2001:db8::/32", "10.0.0.0/8", "fe80:*", "?",
                             "192.168.*", "*", "10.?.0.1", "255.255.255.255"})
        EXPECT_TRUE(ValidAddressEntry(good)) << good;
    for (const char* bad : {"", "2001:db8:::1", "2001:db8::g", "2001:db8::/", "2001:db8::/129", "2001:db8::/-1",
                            "10.0.0.0/33", "10.0.0/8", "2001:db8::/3 2", "1::2::3", "300.1.2.3", "abc10.0.0.5",
                            "10.0.0", "1..2.3", "1.2.3.4.5", "1.2.3.4.*", "0010.1.1.1", "10.0.0.1 ", "fe80:*x"})
        EXPECT_FALSE(ValidAddressEntry(bad)) << bad;
}

TEST(AccessCheck, DenyAndAllowLists) {
    TTempDir tmp;
    const std::string path = tmp.File("ftp_config.ini");
    TIniFile config(path);
    EXPECT_TRUE(AccessCheck(config, "1.2.3.4")); // no file: everyone is accepted

    WriteBytes(path, "[Setup]\r\nPort=21\r\n[IP Deny]\r\nIP0=192.168.0.*\r\nIP1=10.0.0.1*\r\n"
                     "IP3=172.16.0.1\r\n[IP Allow]\r\nIP0=192.168.0.5\r\n");
    EXPECT_TRUE(AccessCheck(config, "192.168.0.5"));
    EXPECT_FALSE(AccessCheck(config, "192.168.0.6"));
    EXPECT_FALSE(AccessCheck(config, "10.0.0.123"));
    EXPECT_TRUE(AccessCheck(config, "172.16.0.1")); // hidden behind the gap at IP2
    EXPECT_TRUE(AccessCheck(config, "127.0.0.1"));

    WriteAddressLists(config, {"*"}, {"127.0.0.1", "", "10.*"});
    EXPECT_FALSE(AccessCheck(config, "192.168.0.5"));
    EXPECT_TRUE(AccessCheck(config, "127.0.0.1"));
    EXPECT_FALSE(AccessCheck(config, "10.1.1.1")); // the empty entry left a gap
    EXPECT_EQ(config.ReadString("Setup", "Port", ""), "21");
}

TEST(AccessCheck, TheBanAppendsEvenWhenListed) {
    TTempDir tmp;
    TIniFile config(tmp.File("ftp_config.ini"));
    WriteBytes(config.FileName(), "[Setup]\r\nPort=21\r\n");
    AppendDeny(config, "10.0.0.8");
    AppendDeny(config, "10.0.0.8");
    AppendDeny(config, "10.0.0.9");
    EXPECT_EQ(ReadBytes(config.FileName()),
              "[Setup]\r\nPort=21\r\n[IP Deny]\r\nIP0=10.0.0.8\r\nIP1=10.0.0.8\r\nIP2=10.0.0.9\r\n");
    EXPECT_EQ(ReadAddressList(config, kDenySection), (std::vector<std::string>{"10.0.0.8", "10.0.0.8", "10.0.0.9"}));
    EXPECT_FALSE(AccessCheck(config, "10.0.0.9"));
}

// The dialog's save applies its own additions and removals to the lists as they are
// now: what another program changed while the dialog was open stays.
TEST(AddressLists, TheDialogSaveKeepsAChangeMadeMeanwhile) {
    TTempDir tmp;
    TIniFile config(tmp.File("ftp_config.ini"));
    WriteAddressLists(config, {"10.0.0.1", "10.0.0.2", "10.0.0.3"}, {"127.0.0.1"});
    const std::vector<std::string> denyRead = ReadAddressList(config, kDenySection);
    const std::vector<std::string> allowRead = ReadAddressList(config, kAllowSection);
    // Meanwhile, elsewhere: one added, one removed.
    EXPECT_EQ(AddAddressEntry(config, kDenySection, "10.0.0.9"), TListChange::Done);
    EXPECT_EQ(RemoveAddressEntry(config, kDenySection, "10.0.0.3"), TListChange::Done);
    // The dialog: 10.0.0.1 modified into 10.0.0.5, 10.0.0.2 deleted, an allow entry added.
    SaveAddressListEdits(config, denyRead, {"10.0.0.5", "10.0.0.3"}, allowRead, {"127.0.0.1", "::1"});
    EXPECT_EQ(ReadAddressList(config, kDenySection), (std::vector<std::string>{"10.0.0.5", "10.0.0.9"}));
    EXPECT_EQ(ReadAddressList(config, kAllowSection), (std::vector<std::string>{"127.0.0.1", "::1"}));
}

TEST(AddressLists, SingleEntryChanges) {
    TTempDir tmp;
    TIniFile config(tmp.File("ftp_config.ini"));
    EXPECT_EQ(AddAddressEntry(config, kAllowSection, "10.*"), TListChange::Done);
    EXPECT_EQ(AddAddressEntry(config, kAllowSection, "10.*"), TListChange::Duplicate);
    EXPECT_EQ(AddAddressEntry(config, kAllowSection, "fe80::/129"), TListChange::Invalid);
    EXPECT_EQ(AddAddressEntry(config, kAllowSection, "::1"), TListChange::Done);
    EXPECT_EQ(AddAddressEntry(config, kAllowSection, "10.0.0.0/8"), TListChange::Done);
    EXPECT_EQ(RemoveAddressEntry(config, kAllowSection, "::2"), TListChange::Missing);
    EXPECT_EQ(RemoveAddressEntry(config, kAllowSection, "10.*"), TListChange::Done);
    // Renumbered from IP0, so the admission check sees every entry.
    EXPECT_EQ(ReadBytes(config.FileName()), "[IP Allow]\r\nIP0=::1\r\nIP1=10.0.0.0/8\r\n");
}

} // namespace
} // namespace nubo
