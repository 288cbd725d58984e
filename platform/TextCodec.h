#pragma once
// Text is UTF-8 in memory, on disk and on the wire. Files left by the older Windows
// installation, and names sent by older Korean clients, are in the Korean ANSI code
// page (CP949); they are recognised by not being valid UTF-8 and converted on reading.

#include <string>
#include <string_view>

namespace nubo {

bool IsValidUtf8(std::string_view bytes);

// UTF-8 text of a file's bytes: valid UTF-8 as it stands, anything else read as CP949.
// A byte sequence that CP949 cannot map becomes U+FFFD; nothing is dropped silently.
std::string DecodeStoredText(std::string_view bytes);

// The UTF-8 form of bytes read as CP949, into out; false (out unchanged) when some
// sequence is not CP949: nothing is guessed or replaced.
bool Cp949ToUtf8(std::string_view bytes, std::string& out);

} // namespace nubo
