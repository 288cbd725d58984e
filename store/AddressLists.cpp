#include "store/AddressLists.h"

namespace nubo {

namespace {

std::string IpKey(size_t n) {
    return "IP" + std::to_string(n);
}

// Walks a list as the admission check does: every value up to and including the
// empty one that ends it.
bool AnyMatches(const TIniFile& config, std::string_view section, std::string_view address) {
    bool matched = false;
    for (size_t n = 0;; ++n) {
        const std::string v = config.ReadString(section, IpKey(n), "");
        matched = MatchPattern(address, v) || matched;
        if (v.empty()) return matched;
    }
}

} // namespace

bool MatchPattern(std::string_view t, std::string_view p) {
    t = t.substr(0, kMaxPatternLength);
    p = p.substr(0, kMaxPatternLength);
    // m(i, j): does t from i match p from j. Filled from the ends backwards, so a
    // pattern with many stars costs at most |t| * |p| steps.
    const size_t tn = t.size(), pn = p.size();
    std::vector<char> m((tn + 1) * (pn + 1), 0);
    const auto at = [&](size_t i, size_t j) -> char& { return m[i * (pn + 1) + j]; };
    for (size_t i = tn + 1; i-- > 0;) {
        for (size_t j = pn + 1; j-- > 0;) {
            bool r;
            if (j + 1 == pn && p[j] == '*')
                r = true; // the rest of the pattern is exactly "*"
            else if (i == tn)
                r = j == pn;
            else if (j == pn)
                r = false;
            else if (p[j] == '*')
                r = at(i, j + 1) || at(i + 1, j);
            else
                r = (p[j] == '?' || p[j] == t[i]) && at(i + 1, j + 1);
            at(i, j) = r;
        }
    }
    return at(0, 0);
}

bool AccessCheck(const TIniFile& config, std::string_view address) {
    bool accept = !AnyMatches(config, kDenySection, address);
    if (AnyMatches(config, kAllowSection, address)) accept = true;
    return accept;
}

std::vector<std::string> ReadAddressList(const TIniFile& config, std::string_view section) {
    std::vector<std::string> out;
    for (size_t n = 0;; ++n) {
        std::string v = config.ReadString(section, IpKey(n), "");
        if (v.empty()) return out;
        out.push_back(std::move(v));
    }
}

void AppendDeny(TIniFile& config, std::string_view address) {
    config.WriteString(kDenySection, IpKey(ReadAddressList(config, kDenySection).size()), address);
}

void WriteAddressLists(TIniFile& config, const std::vector<std::string>& deny, const std::vector<std::string>& allow) {
    config.EraseSection(kDenySection);
    config.EraseSection(kAllowSection);
    std::vector<TIniFile::TEntry> entries;
    for (const auto& [section, list] : {std::pair{kDenySection, &deny}, std::pair{kAllowSection, &allow}})
        for (size_t i = 0; i < list->size(); ++i)
            if (!(*list)[i].empty()) entries.push_back({std::string(section), IpKey(i), (*list)[i]});
    if (!entries.empty()) config.Write(entries);
}

} // namespace nubo
