#pragma once
// Date-time texts of MDTM and MFMT: the fourteen-digit parse, the signed zone number,
// the reply's time text and the checked value that file times are set through.

#include <string>

#include "platform/DateTime.h"

namespace nubo {

// YYYYMMDDHHMMSS, with milliseconds from characters 16 to 18 when the text has 18.
// 0 for a text shorter than 14 characters, a month of 0 or above 12, a day of 0 or above
// 31; -1 for a date or time that does not exist (29 February 2023, hour 24).
TDateTime ParseTimeText(const std::string& s);

// Leading blanks skipped, then a run of '+' and '-', then decimal digits. Negative when the
// first sign is '-' and is not the text's last character.
int SignedNumber(const std::string& s);

// The zone suffix after a time: the run of '+', '-' and digits from position From.
std::string ZoneSuffix(const std::string& s, size_t from);
// The minutes a zone suffix names: the signed number of its first four characters.
int ZoneMinutes(const std::string& suffix);

// YYYYMMDDHHMMSS.mmm, every number padded with "0" to its width.
std::string TimeText(TDateTime t);

// The value as a file time keeps it, to the second (rounded down); false outside the years
// 1980 to 2107 that every file system here can hold.
bool ToFileDateTime(TDateTime t, TDateTime& out);

} // namespace nubo
