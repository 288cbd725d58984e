#pragma once
// Text of the stores is UTF-8 in memory and on disk. Files left by the older Windows
// installation are in the Korean ANSI code page (CP949); they are recognised by not
// being valid UTF-8 and converted on reading.

#include <string>
#include <string_view>

namespace nubo {

bool IsValidUtf8(std::string_view bytes);

// UTF-8 text of a file's bytes: valid UTF-8 as it stands, anything else read as CP949.
// A byte sequence that CP949 cannot map becomes U+FFFD; nothing is dropped silently.
std::string DecodeStoredText(std::string_view bytes);

} // namespace nubo
