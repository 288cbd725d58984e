#include <gtest/gtest.h>

#include "platform/DateTime.h"

using namespace nubo;

TEST(DateTime, EncodeDateTable) {
    struct Case {
        int y, m, d;
        bool ok;
        double value;
    } cases[] = {
        {1899, 12, 30, true, 0},       {1899, 12, 31, true, 1},   {1900, 1, 1, true, 2},
        {1900, 1, 9, true, 10},        {1970, 1, 1, true, 25569}, {2000, 1, 1, true, 36526},
        {2024, 2, 29, true, 45351},    {2023, 2, 29, false, 0},   {1900, 2, 29, false, 0},
        {2000, 2, 29, true, 36585},    {2024, 13, 1, false, 0},   {2024, 4, 31, false, 0},
        {2024, 0, 1, false, 0},        {0, 1, 1, false, 0},       {1, 1, 1, true, -693593},
        {9999, 12, 31, true, 2958465},
    };
    for (const Case& c : cases) {
        TDateTime t = -1;
        EXPECT_EQ(TryEncodeDate(c.y, c.m, c.d, t), c.ok) << c.y << "-" << c.m << "-" << c.d;
        if (c.ok) {
            EXPECT_EQ(t, c.value) << c.y << "-" << c.m << "-" << c.d;
        }
    }
}

TEST(DateTime, EncodeTimeLimits) {
    TDateTime t;
    EXPECT_TRUE(TryEncodeTime(12, 0, 0, 0, t));
    EXPECT_EQ(t, 0.5);
    EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, t));
    EXPECT_FALSE(TryEncodeTime(24, 0, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 60, 0, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 0, 60, 0, t));
    EXPECT_FALSE(TryEncodeTime(0, 0, 0, 1000, t));
}

// Every field survives encode and decode, across leap days, centuries and the epoch.
// Values count linearly: before the epoch the time of day still adds to the day.
TEST(DateTime, DecodeRoundTrip) {
    struct Case {
        int y, mo, d, h, mi, s, ms;
    } cases[] = {
        {1899, 12, 30, 0, 0, 0, 0},     {1899, 12, 29, 6, 0, 0, 0}, {1600, 3, 1, 1, 2, 3, 4},
        {1900, 2, 28, 23, 59, 59, 999}, {2000, 2, 29, 12, 0, 0, 0}, {2024, 2, 29, 12, 0, 1, 500},
        {2100, 12, 31, 23, 59, 59, 0},  {1970, 1, 1, 0, 0, 0, 1},   {9999, 12, 31, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        TDateTime date, time;
        ASSERT_TRUE(TryEncodeDate(c.y, c.mo, c.d, date));
        ASSERT_TRUE(TryEncodeTime(c.h, c.mi, c.s, c.ms, time));
        TDateParts p = DecodeDateTime(date + time);
        EXPECT_EQ(p.Year, c.y);
        EXPECT_EQ(p.Month, c.mo);
        EXPECT_EQ(p.Day, c.d);
        EXPECT_EQ(p.Hour, c.h);
        EXPECT_EQ(p.Minute, c.mi);
        EXPECT_EQ(p.Second, c.s);
        EXPECT_EQ(p.Millisecond, c.ms);
    }
}

TEST(DateTime, FileTimes) {
    // 1 January 1970 in 100-ns units since 1601, and one second later.
    EXPECT_EQ(UnixToFileTime(0, 0), 116444736000000000);
    EXPECT_EQ(FileTimeToDateTime(UnixToFileTime(0, 0)), kUnixDateDelta);
    TDateParts p = DecodeDateTime(FileTimeToDateTime(UnixToFileTime(1709208000, 250000000)));
    EXPECT_EQ(p.Year, 2024);
    EXPECT_EQ(p.Month, 2);
    EXPECT_EQ(p.Day, 29);
    EXPECT_EQ(p.Hour, 12);
    EXPECT_EQ(p.Millisecond, 250);
}
