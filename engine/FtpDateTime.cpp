#include "engine/FtpDateTime.h"

#include <algorithm>
#include <cstdio>

namespace nubo {

namespace {

// The decimal value of s[from, from + len), all digits assumed.
int Digits(const std::string& s, size_t from, size_t len) {
    int v = 0;
    for (size_t i = from; i < from + len; ++i) v = v * 10 + (s[i] >= '0' && s[i] <= '9' ? s[i] - '0' : 0);
    return v;
}

} // namespace

TDateTime ParseTimeText(const std::string& s) {
    if (s.size() < 14) return 0;
    const int year = Digits(s, 0, 4), month = Digits(s, 4, 2), day = Digits(s, 6, 2);
    const int hour = Digits(s, 8, 2), minute = Digits(s, 10, 2), second = Digits(s, 12, 2);
    const int ms = s.size() >= 18 ? Digits(s, 15, 3) : 0;
    if (month == 0 || month > 12 || day == 0 || day > 31) return 0;
    TDateTime date, time;
    if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, ms, time)) return -1;
    return date + time;
}

int SignedNumber(const std::string& s) {
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    const size_t sign = i;
    while (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    int v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && v < 100000000) v = v * 10 + (s[i++] - '0');
    const bool negative = sign < s.size() && s[sign] == '-' && sign != s.size() - 1;
    return negative ? -v : v;
}

std::string ZoneSuffix(const std::string& s, size_t from) {
    size_t end = from;
    while (end < s.size() && (s[end] == '+' || s[end] == '-' || (s[end] >= '0' && s[end] <= '9'))) ++end;
    return s.substr(std::min(from, s.size()), end - std::min(from, s.size()));
}

int ZoneMinutes(const std::string& suffix) {
    return SignedNumber(suffix.substr(0, 4));
}

std::string TimeText(TDateTime t) {
    const TDateParts p = DecodeDateTime(t);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d.%03d", p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second,
                  p.Millisecond);
    return buf;
}

bool ToFileDateTime(TDateTime t, TDateTime& out) {
    TDateParts p = DecodeDateTime(t);
    if (p.Year < 1980 || p.Year > 2107) return false;
    TDateTime date, time;
    TryEncodeDate(p.Year, p.Month, p.Day, date);
    TryEncodeTime(p.Hour, p.Minute, p.Second, 0, time);
    out = date + time;
    return true;
}

} // namespace nubo
