// The system's clock and time zone.
#include <ctime>

#include "platform/DateTime.h"
#include "platform/FileSystem.h"

namespace nubo {

TDateTime Now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    int64_t ms = (int64_t(ts.tv_sec) + local.tm_gmtoff) * 1000 + ts.tv_nsec / 1000000;
    return kUnixDateDelta + MsToDateTime(ms);
}

int TimeZoneBias() {
    time_t now = time(nullptr);
    tm local{};
    localtime_r(&now, &local);
    return int(-local.tm_gmtoff / 60);
}

} // namespace nubo
