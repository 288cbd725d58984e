#include "host/LogRuns.h"

#include <optional>

#include "platform/PathMap.h"

namespace nubo {

namespace {

// Marks the next character as plain text. Not a character that FTP commands carry
// in practice, and escaped itself when it does occur.
constexpr char kEsc = '\x1B';

bool IsMarkup(char c) {
    return c == '#' || c == '<' || c == '>' || c == kEsc;
}

bool OpensRun(std::string_view s, size_t i) {
    return s[i] == '#' && i + 7 < s.size() && s[i + 7] == '<';
}

std::optional<uint32_t> HexColour(std::string_view digits) {
    uint32_t v = 0;
    for (char c : digits) {
        v <<= 4;
        if (c >= '0' && c <= '9')
            v |= uint32_t(c - '0');
        else if (c >= 'a' && c <= 'f')
            v |= uint32_t(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            v |= uint32_t(c - 'A' + 10);
        else
            return std::nullopt;
    }
    return v;
}

} // namespace

std::string LogRun(std::string_view colour, std::string_view text) {
    std::string r(colour);
    r += '<';
    for (char c : text) {
        if (IsMarkup(c)) r += kEsc;
        r += c;
    }
    return r + '>';
}

std::string FileRun(std::string_view path) {
    return LogRun(kLogFile, DisplayPath(path));
}

std::string ConnectionPrefix(int connectionNumber) {
    return LogRun(kLogSeparator, "[") + LogRun(kLogConnNumber, std::to_string(connectionNumber)) +
           LogRun(kLogSeparator, "] ");
}

std::string StripRuns(std::string_view text) {
    // Escaped characters are protected: they never start or end a group, nor count as ">".
    struct TChar {
        char c;
        bool plain;
    };
    std::vector<TChar> s;
    s.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == kEsc && i + 1 < text.size())
            s.push_back({text[++i], true});
        else
            s.push_back({text[i], false});
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (size_t i = 0; i < s.size();) {
            if (!s[i].plain && s[i].c == '#' && i + 7 < s.size() && !s[i + 7].plain && s[i + 7].c == '<') {
                s.erase(s.begin() + i, s.begin() + i + 8);
                changed = true;
            } else if (!s[i].plain && s[i].c == '>') {
                s.erase(s.begin() + i);
                changed = true;
            } else {
                ++i;
            }
        }
    }
    std::string out;
    out.reserve(s.size());
    for (const auto& ch : s) out += ch.c;
    return out;
}

TLogLine ParseRuns(std::string_view text, uint32_t baseRgb) {
    TLogLine line;
    std::vector<uint32_t> open;
    std::string pending;
    const auto colour = [&] { return open.empty() ? baseRgb : open.back(); };
    const auto flush = [&] {
        if (pending.empty()) return;
        if (!line.empty() && line.back().Rgb == colour())
            line.back().Text += pending;
        else
            line.push_back({colour(), pending});
        pending.clear();
    };
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == kEsc && i + 1 < text.size()) {
            pending += text[++i];
        } else if (OpensRun(text, i)) {
            flush();
            open.push_back(HexColour(text.substr(i + 1, 6)).value_or(colour()));
            i += 7;
        } else if (c == '>') {
            flush();
            if (!open.empty()) open.pop_back();
        } else {
            pending += c;
        }
    }
    flush();
    return line;
}

} // namespace nubo
