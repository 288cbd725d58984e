#pragma once
// Reading a secret from the controlling terminal or from standard input.

#include <optional>
#include <string>

namespace nubo {

// Whether standard input is a terminal.
bool StdinIsTerminal();

// Shows prompt on the terminal and reads one line without echo. Nothing on end of
// input or when the terminal cannot be used.
std::optional<std::string> ReadHiddenLine(const std::string& prompt);

// One line of standard input without its line end (LF or CR LF); nothing at end of
// input before any byte. At most maxBytes + 1 bytes are kept, so a caller can tell an
// over-long line without holding it all.
std::optional<std::string> ReadStdinLine(size_t maxBytes);

} // namespace nubo
