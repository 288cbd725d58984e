#include <gtest/gtest.h>

#include "platform/Wildcard.h"

using namespace nubo;

TEST(Wildcard, MatchesTable) {
    struct Case {
        const char* name;
        const char* mask;
        bool match;
    } cases[] = {
        {"a.txt", "*.*", true},
        {"noext", "*.*", true},
        {".hidden", "*.*", true},
        {"a.b.c", "*.*", true},
        {"a.txt", "*", true},
        {"a.txt", "*.txt", true},
        {"a.txt", "*.TXT", false},
        {"a.txt.bak", "*.txt", false},
        {"a", "a.*", true},
        {"ab", "a.*", false},
        {"a.x", "a.*", true},
        {"abc", "a?c", true},
        {"ac", "a?c", false},
        {"abbc", "a?c", false},
        {"a.txt", "a.txt", true},
        {"a.txt", "b.txt", false},
        {"abcabd", "*abd", true},
        {"abcabc", "*abd", false},
        {"mississippi", "m*iss*pi", true},
        {"mississippi", "m*iss*x", false},
        {"x", "**x**", true},
        {"", "*", true},
        {"", "?", false},
        {"a*b", "a*b", true},
        {"aXb", "a*b", true},
        {"abc", "abc*?", false},
        {"abcd", "abc*?", true},
    };
    for (const Case& c : cases) EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
}

TEST(Wildcard, HasWildcards) {
    EXPECT_TRUE(HasWildcards("*.*"));
    EXPECT_TRUE(HasWildcards("a?"));
    EXPECT_FALSE(HasWildcards("a.txt"));
}

// A long run of stars against a near miss must not take exponential time.
TEST(Wildcard, NoBacktrackingBlowUp) {
    std::string name(5000, 'a');
    std::string mask;
    for (int i = 0; i < 50; ++i) mask += "*a";
    mask += "b";
    EXPECT_FALSE(MatchesMask(name, mask));
}
