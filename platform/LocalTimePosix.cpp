#include "platform/LocalTime.h"

namespace nubo {

// The reentrant form: no result shared through the C library's static buffer.
std::tm LocalCalendarTime(std::time_t t) {
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return tm;
}

} // namespace nubo
