#include "platform/DateTime.h"

#include <algorithm>
#include <cmath>

namespace nubo {

namespace {

// Days from 1 January of year 1 to the given date, by the proleptic Gregorian calendar.
int64_t DaysFromCivilStart(int year, int month, int day) {
    int64_t y = year - 1;
    int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
    for (int m = 1; m < month; ++m) days += DaysInMonth(year, m);
    return days + day - 1;
}

// 1 January of year 1 counted from 30 December 1899.
const int64_t kCivilStartToDateTime = -DaysFromCivilStart(1899, 12, 30);

} // namespace

bool IsLeapYear(int year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

int DaysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    return days[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
    out = double(DaysFromCivilStart(year, month, day) + kCivilStartToDateTime);
    return true;
}

bool TryEncodeTime(int hour, int minute, int second, int ms, TDateTime& out) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || ms < 0 || ms > 999)
        return false;
    out = double(((hour * 60 + minute) * 60 + second) * 1000 + ms) / double(kMsPerDay);
    return true;
}

int64_t DateTimeToMs(TDateTime t) {
    return std::llround(t * double(kMsPerDay));
}

TDateTime MsToDateTime(int64_t ms) {
    return double(ms) / double(kMsPerDay);
}

TDateParts DecodeDateTime(TDateTime t) {
    int64_t ms = DateTimeToMs(t);
    int64_t days = ms / kMsPerDay;
    int64_t msOfDay = ms % kMsPerDay;
    if (msOfDay < 0) { // before 1899: the day is the one below, the time counts forwards
        msOfDay += kMsPerDay;
        --days;
    }
    TDateParts p;
    p.Millisecond = int(msOfDay % 1000);
    p.Second = int(msOfDay / 1000 % 60);
    p.Minute = int(msOfDay / 60000 % 60);
    p.Hour = int(msOfDay / 3600000);

    int64_t d = days - kCivilStartToDateTime; // days since 1 January of year 1
    int64_t y400 = d / 146097, r = d % 146097;
    int64_t y100 = std::min<int64_t>(r / 36524, 3);
    r -= y100 * 36524;
    int64_t y4 = r / 1461;
    r %= 1461;
    int64_t y1 = std::min<int64_t>(r / 365, 3);
    r -= y1 * 365;
    p.Year = int(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
    p.Month = 1;
    while (r >= DaysInMonth(p.Year, p.Month)) r -= DaysInMonth(p.Year, p.Month++);
    p.Day = int(r + 1);
    return p;
}

int64_t UnixToFileTime(int64_t sec, int64_t nsec) {
    return (sec + kFileTimeUnixDelta) * 10000000 + nsec / 100;
}

TDateTime FileTimeToDateTime(int64_t fileTime) {
    int64_t ms = fileTime / 10000 - kFileTimeUnixDelta * 1000;
    return kUnixDateDelta + MsToDateTime(ms);
}

} // namespace nubo
