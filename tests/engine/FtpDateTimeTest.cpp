#include <gtest/gtest.h>

#include "engine/FtpDateTime.h"

using namespace nubo;

namespace {
TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    TDateTime date = 0, time = 0;
    EXPECT_TRUE(TryEncodeDate(y, mo, d, date));
    EXPECT_TRUE(TryEncodeTime(h, mi, s, ms, time));
    return date + time;
}
} // namespace

TEST(FtpDateTime, ParseTable) {
    struct Case {
        const char* text;
        TDateTime value;
    } cases[] = {
        {"", 0},
        {"2024022912000", 0}, // 13 characters
        {"20240229120000", At(2024, 2, 29, 12)},
        {"20240229120000+060", At(2024, 2, 29, 12, 0, 0, 60)}, // 18 characters: "060" is read as milliseconds
        {"20240229120000.250", At(2024, 2, 29, 12, 0, 0, 250)},
        {"20240229120000.25", At(2024, 2, 29, 12)}, // milliseconds need 18 characters
        {"19000109000000", 10},
        {"20230229120000", -1}, // no such day
        {"20240431120000", -1},
        {"20240229240000", -1}, // no such time
        {"20240229126000", -1},
        {"20240229120060", -1},
        {"00000101000000", -1}, // no year 0
        {"20241301120000", 0},  // month above 12
        {"20240001120000", 0},
        {"20240100120000", 0}, // day 0
        {"20240132120000", 0}, // day above 31
    };
    for (const Case& c : cases) EXPECT_EQ(ParseTimeText(c.text), c.value) << c.text;
}

TEST(FtpDateTime, SignedNumberTable) {
    struct Case {
        const char* text;
        int value;
    } cases[] = {
        {"+060", 60},  {"-060", -60}, {"060", 60},  {"", 0},   {"-", 0},     {"+", 0},   {"+-60", 60},
        {"-+60", -60}, {"--5", -5},   {"  -5", -5}, {"5-", 5}, {"-5x9", -5}, {" - ", 0}, {"x5", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(SignedNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(FtpDateTime, ZoneSuffixTable) {
    struct Case {
        const char* params;
        const char* suffix;
        int minutes;
    } cases[] = {
        {"20240229120000 a.txt", "", 0},
        {"20240229120000+060 a.txt", "+060", 60},
        {"20240229120000-60 a.txt", "-60", -60},
        {"20240229120000+0600 a.txt", "+0600", 60}, // four characters count
        {"20240229120000-12345", "-12345", -123},
        {"20240229120000+-+1 x", "+-+1", 1},
        {"20240229120000-", "-", 0},
        {"20240229120000.txt", "", 0},
        {"20240229120000", "", 0},
    };
    for (const Case& c : cases) {
        std::string suffix = ZoneSuffix(c.params, 14);
        EXPECT_EQ(suffix, c.suffix) << c.params;
        EXPECT_EQ(ZoneMinutes(suffix), c.minutes) << c.params;
    }
}

TEST(FtpDateTime, TimeTextPadsEveryField) {
    EXPECT_EQ(TimeText(At(2024, 2, 29, 12)), "20240229120000.000");
    EXPECT_EQ(TimeText(At(2024, 1, 2, 3, 4, 5, 6)), "20240102030405.006");
    EXPECT_EQ(TimeText(At(999, 12, 31, 23, 59, 59, 999)), "09991231235959.999");
}

TEST(FtpDateTime, FileDateTimeTable) {
    struct Case {
        TDateTime in;
        bool ok;
        TDateTime out;
    } cases[] = {
        {At(2024, 2, 29, 12, 0, 59, 999), true, At(2024, 2, 29, 12, 0, 59)}, // odd seconds stay
        {At(2024, 2, 29, 12, 0, 0, 1), true, At(2024, 2, 29, 12)},
        {At(1980, 1, 1), true, At(1980, 1, 1)},
        {At(2107, 12, 31, 23, 59, 59), true, At(2107, 12, 31, 23, 59, 59)},
        {At(1979, 12, 31, 23, 59, 59), false, 0},
        {At(2108, 1, 1), false, 0},
    };
    for (const Case& c : cases) {
        TDateTime out = 0;
        EXPECT_EQ(ToFileDateTime(c.in, out), c.ok) << TimeText(c.in);
        if (c.ok) {
            EXPECT_EQ(TimeText(out), TimeText(c.out));
        }
    }
}
