#include "engine/PathRules.h"

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

bool IsUNC(const std::string& s) {
    return s.size() >= 2 && s[0] == '\\' && s[1] == '\\';
}

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

int64_t FileSizeOf(const std::string& path) {
    TSearchRec rec;
    if (!FindFirstEntry(ExpandFileName(path), faAnyFile, rec)) return -1;
    return rec.Size;
}

} // namespace nubo
