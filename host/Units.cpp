#include "host/Units.h"

#include <cmath>
#include <cstdio>

namespace nubo {

namespace {

std::string Scaled(double v) {
    static const char* const units[] = {"B", "KB", "MB", "GB", "TB"};
    if (!(v >= 0) || !std::isfinite(v)) v = 0;
    int unit = 0;
    while (v >= 1024 && unit < 4) {
        v /= 1024;
        ++unit;
    }
    const auto rounded = [](double x, int decimals) {
        const double scale = std::pow(10.0, decimals);
        return std::round(x * scale) / scale;
    };
    int decimals = unit == 0 ? 0 : unit <= 2 ? 1 : 2;
    // 1023.97 KB would read "1024 KB": that is the next unit's 1.
    if (unit < 4 && rounded(v, decimals) >= 1024) {
        v /= 1024;
        ++unit;
        decimals = unit <= 2 ? 1 : 2;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, rounded(v, decimals));
    std::string s = buf;
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s + " " + units[unit];
}

} // namespace

std::string FormatSize(int64_t bytes) {
    return Scaled(double(bytes));
}

std::string FormatSpeed(double bytesPerSecond) {
    return Scaled(bytesPerSecond) + "/s";
}

std::string FormatDuration(int64_t seconds) {
    if (seconds < 0) return "-:--:--";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%lld:%02d:%02d", static_cast<long long>(seconds / 3600), int(seconds / 60 % 60),
                  int(seconds % 60));
    return buf;
}

} // namespace nubo
