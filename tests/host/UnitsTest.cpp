// The units of the monitor lists and the detail panel.
#include <gtest/gtest.h>

#include "host/Units.h"

using namespace nubo;

TEST(Units, SizesSpeedsAndDurations) {
    struct Size {
        int64_t bytes;
        const char* text;
    } sizes[] = {
        {0, "0 B"},
        {512, "512 B"},
        {1023, "1023 B"},
        {1024, "1 KB"},
        {13722, "13.4 KB"},
        {1048550, "1 MB"}, // 1023.97 KB rounds to the next unit, never "1024 KB"
        {1258291, "1.2 MB"},
        {4026531840, "3.75 GB"},
        {int64_t(1) << 40, "1 TB"},
        {int64_t(5) << 50, "5120 TB"}, // TB is the largest unit
        {-5, "0 B"},                   // never a negative size
    };
    for (const auto& c : sizes) EXPECT_EQ(FormatSize(c.bytes), c.text) << c.bytes;

    struct Speed {
        double perSecond;
        const char* text;
    } speeds[] = {
        {0, "0 B/s"}, {870400, "850 KB/s"}, {117754675.2, "112.3 MB/s"}, {1023.6, "1 KB/s"}, {0.4, "0 B/s"},
    };
    for (const auto& c : speeds) EXPECT_EQ(FormatSpeed(c.perSecond), c.text) << c.perSecond;

    struct Duration {
        int64_t seconds;
        const char* text;
    } durations[] = {
        {0, "0:00:00"}, {48, "0:00:48"}, {3723, "1:02:03"}, {26 * 3600 + 189, "26:03:09"}, {-1, "-:--:--"},
    };
    for (const auto& c : durations) EXPECT_EQ(FormatDuration(c.seconds), c.text) << c.seconds;
}
