// Names as they arrive on the wire: UTF-8 as it stands, CP949 read into UTF-8, and bytes
// that are neither left exactly as they came.
#include <gtest/gtest.h>
#include <string>

#include "engine/CommandText.h"

using namespace nubo;

TEST(NameToUtf8, UsesUtf8AndReadsCp949) {
    struct Case {
        const char* what;
        std::string in, out;
        bool converted;
    } cases[] = {
        {"empty", "", "", false},
        {"ASCII", "dir/a b.txt", "dir/a b.txt", false},
        {"Korean in UTF-8", "\xed\x95\x9c\xea\xb8\x80.txt", "\xed\x95\x9c\xea\xb8\x80.txt", false},
        {"emoji in UTF-8", "\xf0\x9f\x98\x80.png", "\xf0\x9f\x98\x80.png", false},
        // "한글.txt" and a path with blanks in CP949
        {"Korean in CP949", "\xc7\xd1\xb1\xdb.txt", "\xed\x95\x9c\xea\xb8\x80.txt", true},
        {"CP949 path, blanks kept", " /\xc7\xd1 \xb1\xdb/x ", " /\xed\x95\x9c \xea\xb8\x80/x ", true},
        // "똠" exists in CP949 only, not in EUC-KR
        {"CP949-only letter", "\x8c\x63", "\xeb\x98\xa0", true},
        // An overlong UTF-8 slash is no slash: as CP949 it is a Korean letter.
        {"overlong UTF-8", "\xc0\xaf", "\xec\x9c\xa0", true},
        {"lone high bytes", "raw-\xff\x80.bin", "raw-\xff\x80.bin", false},
        {"CP949 cut after a lead byte", "\xc7\xd1\xb1", "\xc7\xd1\xb1", false},
        {"user-defined CP949 area", "\xc9\xa1.txt", "\xc9\xa1.txt", false},
        {"UTF-8 and CP949 mixed", "\xed\x95\x9c\xb1\xdb", "\xed\x95\x9c\xb1\xdb", false},
    };
    for (const auto& c : cases) {
        std::string name = c.in;
        EXPECT_EQ(NameToUtf8(name), c.converted) << c.what;
        EXPECT_EQ(name, c.out) << c.what;
    }
}
