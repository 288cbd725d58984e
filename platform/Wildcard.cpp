#include "platform/Wildcard.h"

namespace nubo {

namespace {

// Greedy match with one backtrack point: the last '*' seen absorbs one more character
// whenever the rest fails, which keeps the work linear in practice and never recursive.
bool Glob(std::string_view name, std::string_view mask) {
    size_t n = 0, m = 0;
    size_t starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n]) && mask[m] != '*') {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

} // namespace

bool HasWildcards(std::string_view s) {
    return s.find_first_of("*?") != std::string_view::npos;
}

bool MatchesMask(std::string_view name, std::string_view mask) {
    if (Glob(name, mask)) return true;
    if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*") return Glob(name, mask.substr(0, mask.size() - 2));
    return false;
}

} // namespace nubo
