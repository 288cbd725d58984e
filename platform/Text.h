#pragma once
// ASCII text helpers for every layer. Names, keys, keywords and account names are
// compared and converted byte by byte, whatever the locale: other bytes stay as they are.

#include <string>
#include <string_view>

namespace nubo {

constexpr char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}
constexpr char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
// Equal apart from ASCII case.
bool SameText(std::string_view a, std::string_view b);

// Without the spaces and control bytes at both ends.
std::string TrimBlanks(std::string_view s);
// Without the spaces and tabs at both ends (the blanks of an INI line).
std::string_view TrimSpaces(std::string_view s);

} // namespace nubo
