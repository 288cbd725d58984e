#include "engine/CommandText.h"

#include <cctype>

#include "platform/Text.h"
#include "platform/TextCodec.h"

namespace nubo {

std::string QuotedPath(const std::string& path) {
    std::string out;
    for (char c : path) {
        out += c;
        if (c == '"') out += '"';
    }
    return out;
}

std::string PrintableText(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

std::string PrintableReply(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t pos = 0;;) {
        const size_t crlf = s.find("\r\n", pos);
        out += PrintableText(s.substr(pos, crlf == std::string_view::npos ? crlf : crlf - pos));
        if (crlf == std::string_view::npos) return out;
        out += "\r\n";
        pos = crlf + 2;
    }
}

void SplitCommandLine(const char* buf, int len, std::string& keyword, std::string& params) {
    std::string line;
    line.reserve(size_t(len > 0 ? len : 0));
    for (int i = 0; i < len; ++i) {
        unsigned char c = (unsigned char)buf[i];
        if (c == 255 && i + 1 < len) {
            if ((unsigned char)buf[i + 1] == 255) line.push_back(char(255));
            ++i; // a Telnet command pair vanishes
            continue;
        }
        if (c == 255) continue; // a lone trailing IAC has no command byte to pair with
        line.push_back(char(c));
    }
    size_t i = 0;
    auto blank = [&](size_t j) { return j < line.size() && (line[j] == ' ' || line[j] == '\t'); };
    while (blank(i)) ++i;
    size_t k = i;
    while (k < line.size() && std::isalnum((unsigned char)line[k]) && (unsigned char)line[k] < 128) ++k;
    keyword = UpperCase(line.substr(i, k - i));
    // One blank separates the keyword from its argument; any further blank belongs to
    // the argument, since file names may begin with blanks.
    if (blank(k)) ++k;
    params = line.substr(k);
}

bool NameToUtf8(std::string& name) {
    if (IsValidUtf8(name)) return false;
    return Cp949ToUtf8(name, name);
}

std::string Fmt(const std::string& fmt, const std::string& a) {
    size_t p = fmt.find("%s");
    if (p == std::string::npos) return fmt;
    return fmt.substr(0, p) + a + fmt.substr(p + 2);
}

std::string Fmt(const std::string& fmt, const std::string& a, const std::string& b) {
    size_t p = fmt.find("%s");
    if (p == std::string::npos) return fmt;
    return fmt.substr(0, p) + a + Fmt(fmt.substr(p + 2), b);
}

} // namespace nubo
