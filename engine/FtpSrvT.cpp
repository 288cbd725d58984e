#include "engine/FtpSrvT.h"

#include <cctype>

#include "platform/FileSearch.h"
#include "platform/PathMap.h"

namespace nubo {

std::string ToLocalSeparators(std::string s) {
    for (auto& c : s)
        if (c == '/') c = '\\';
    return s;
}

std::string ToClientSeparators(std::string s) {
    for (auto& c : s)
        if (c == '\\') c = '/';
    return s;
}

bool IsUNC(const std::string& s) { return s.size() >= 2 && s[0] == '\\' && s[1] == '\\'; }

std::string StripLeadingBackslash(const std::string& s) {
    if (s.size() > 2 && s[2] == ':' && s[0] == '\\') return s.substr(1);
    return s;
}

std::string DrivePart(const std::string& s) {
    if (s.size() >= 2 && s[1] == ':') return s.substr(0, 2);
    if (IsUNC(s)) {
        // \\server\share: up to the backslash after the share name.
        size_t server = s.find('\\', 2);
        if (server == std::string::npos) return s;
        size_t share = s.find('\\', server + 1);
        return share == std::string::npos ? s : s.substr(0, share);
    }
    return "";
}

std::string FolderPart(const std::string& s) {
    size_t p = s.find_last_of("\\:");
    return p == std::string::npos ? "" : s.substr(0, p + 1);
}

std::string OverlapRoot(const std::string& D, const std::string& A) {
    std::string result;
    const long n = long(D.size());
    // k is a 1-based position in D, scanned downwards from the next-to-last character.
    for (long k = n - 1; k >= 1; --k) {
        const long len = n - k + 1; // D from position k to its end
        if (D[size_t(k - 1)] == '\\' && long(A.size()) >= len &&
            D.compare(size_t(k - 1), size_t(len), A, 0, size_t(len)) == 0)
            result = D.substr(0, size_t(k)); // a smaller k overwrites: the longest overlap wins
        if (k == 1 || n == 1 || k - 1 + long(A.size()) <= n) break;
    }
    return result;
}

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

int64_t FileSizeOf(const std::string& path) {
    TSearchRec rec;
    if (!FindFirstEntry(ExpandFileName(path), faAnyFile, rec)) return -1;
    return rec.Size;
}

} // namespace nubo
