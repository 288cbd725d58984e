#pragma once
// Calendar fields of a moment in the system's time zone, for texts such as log stamps
// and daily file names.

#include <ctime>

namespace nubo {

std::tm LocalCalendarTime(std::time_t t);

} // namespace nubo
