#pragma once
// Date-time values as the engine counts them: days since 30 December 1899 00:00, the
// fraction being the time of day. Calendar arithmetic, portable; only Now() asks the
// system's clock (ClockPosix.cpp).

#include <cstdint>

namespace nubo {

using TDateTime = double;

// Days from 30 December 1899 to 1 January 1970.
constexpr double kUnixDateDelta = 25569.0;
constexpr int64_t kMsPerDay = 86400000;
// Seconds from 1 January 1601 (the epoch of 100-nanosecond file times) to 1 January 1970.
constexpr int64_t kFileTimeUnixDelta = 11644473600;

struct TDateParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
};

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);
// False when the date does not exist (month 13, 29 February of a common year, year 0).
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
// False when the time does not exist (hour 24, minute 60, second 60, millisecond 1000).
bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out);
// Splits a value into its calendar fields, rounded to the nearest millisecond.
TDateParts DecodeDateTime(TDateTime t);

// Whole milliseconds of a value, rounded, and back.
int64_t DateTimeToMs(TDateTime t);
TDateTime MsToDateTime(int64_t ms);

// 100-nanosecond units since 1601 of a Unix time, and the date-time of such a count.
int64_t UnixToFileTime(int64_t sec, int64_t nsec);
TDateTime FileTimeToDateTime(int64_t fileTime);

// The local date and time now.
TDateTime Now();

} // namespace nubo
