#pragma once
// The units a person reads in the monitor lists and the detail panel: one rule for
// sizes, speeds and durations, so that downloads, uploads and totals read alike.
// 1 KB = 1024 B. The log lines keep their own fixed formats.

#include <cstdint>
#include <string>

namespace nubo {

// "512 B", "13.4 KB", "1.2 MB", "3.75 GB", "1.5 TB": whole bytes below 1 KB, one decimal
// in KB and MB, two from GB on; decimals that are zero are dropped ("850 KB", "2 MB").
// A value that rounds up to 1024 of a unit is written in the next unit.
std::string FormatSize(int64_t bytes);
// A size per second: "850 KB/s", "112.3 MB/s".
std::string FormatSpeed(double bytesPerSecond);
// h:mm:ss, the hours not limited to a day: "0:00:48", "26:03:09". Negative: unknown,
// "-:--:--".
std::string FormatDuration(int64_t seconds);

} // namespace nubo
