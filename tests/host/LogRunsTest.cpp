#include "host/LogRuns.h"

#include <gtest/gtest.h>

namespace nubo {
namespace {

std::string Text(const TLogLine& line) {
    std::string s;
    for (const auto& r : line) s += r.Text;
    return s;
}

TEST(StripRuns, Cases) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"#000000<FTP Port: #000000<2121>>", "FTP Port: 2121"},
        {"#EA990B<[>#000000<3>#EA990B<] >User #922309<bob> Connected", "[3] User bob Connected"},
        {"a < b", "a < b"},       // a "<" that closes no group stays
        {"x > y", "x  y"},        // every ">" goes
        {"#12<345<z", "z"},       // the group is any six characters
        {"##abcdef<123456<", ""}, // a group that appears once another is gone
        {"#ab>cdef<", ""},        // ... or once a ">" is gone
        {"#zzzzzz<bad colour>", "bad colour"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(StripRuns(c.in), c.out) << c.in;
}

TEST(ParseRuns, NestedRunsTakeTheirColours) {
    const TLogLine line = ParseRuns("#112233<outer #AABBCC<inner> more #ddeeff<two> end>after", 0x000001);
    const TLogLine expected = {{0x112233, "outer "}, {0xAABBCC, "inner"}, {0x112233, " more "},
                               {0xDDEEFF, "two"},    {0x112233, " end"},  {0x000001, "after"}};
    EXPECT_EQ(line, expected);
}

TEST(ParseRuns, MalformedMarkupLosesNothing) {
    const struct {
        const char* in;
        TLogLine runs;
    } cases[] = {
        {"before #FF0000<red", {{0, "before "}, {0xFF0000, "red"}}}, // open at the end
        {"#FF0000<a>>b>c", {{0xFF0000, "a"}, {0, "bc"}}},            // stray ">" dropped
        {"#FF0000<#zzzzzz<x>y>", {{0xFF0000, "xy"}}},                // bad colour: enclosing one
        {"#12345<", {{0, "#12345<"}}},                               // too short to be a run
        {"plain", {{0, "plain"}}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseRuns(c.in), c.runs) << c.in;
}

TEST(LogRun, ClientTextCannotOpenCloseOrForgeRuns) {
    const char* hostile[] = {"bob>", "#FF0000<evil", "a>b>c", "#000000<x>y",      "\x1B>",
                             "\x1B", "ends with #",  "<<>>",  "#abcdef<#abcdef<", "plain"};
    for (const char* s : hostile) {
        const std::string msg = "User " + LogRun(kLogUser, s) + " Connected";
        const std::string wrapped = std::string(kLogText) + "<" + msg + ">";
        EXPECT_EQ(StripRuns(wrapped), std::string("User ") + s + " Connected") << s;
        const TLogLine line = ParseRuns(wrapped, 0x000000);
        EXPECT_EQ(Text(line), std::string("User ") + s + " Connected") << s;
        // The client's text is one run in the user colour, the rest stays black.
        ASSERT_EQ(line.size(), 3u) << s;
        EXPECT_EQ(line[1], (TColourRun{0x922309, s}));
        EXPECT_EQ(line[2], (TColourRun{0x000000, " Connected"}));
    }
    EXPECT_EQ(StripRuns(ConnectionPrefix(12) + "hi"), "[12] hi");
}

} // namespace
} // namespace nubo
