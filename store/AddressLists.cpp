#include "store/AddressLists.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>

namespace nubo {

namespace {

// An address as its bytes: 4 for IPv4, 16 for IPv6 (an IPv4-mapped IPv6 address counts
// as its IPv4 address). False for any other text.
bool AddressBytes(std::string_view text, std::string& bytes) {
    const std::string t(text);
    unsigned char buf[16];
    if (t.find(':') == std::string::npos) {
        if (inet_pton(AF_INET, t.c_str(), buf) != 1) return false;
        bytes.assign(reinterpret_cast<char*>(buf), 4);
        return true;
    }
    if (inet_pton(AF_INET6, t.c_str(), buf) != 1) return false;
    static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (std::memcmp(buf, kMapped, 12) == 0)
        bytes.assign(reinterpret_cast<char*>(buf) + 12, 4);
    else
        bytes.assign(reinterpret_cast<char*>(buf), 16);
    return true;
}

// "address/bits": the network's bytes and its prefix length.
bool ParsePrefix(std::string_view entry, std::string& net, size_t& bits) {
    const size_t slash = entry.find('/');
    if (slash == std::string_view::npos || !AddressBytes(entry.substr(0, slash), net)) return false;
    const std::string_view len = entry.substr(slash + 1);
    if (len.empty() || len.size() > 3 || len.find_first_not_of("0123456789") != std::string_view::npos) return false;
    bits = size_t(std::stoul(std::string(len)));
    return bits <= net.size() * 8;
}

bool HasWildcard(std::string_view entry) {
    return entry.find_first_of("*?") != std::string_view::npos;
}

// One list entry against a client's address: an IPv6 address or a prefix ("2001:db8::/32",
// "10.0.0.0/8") by their bytes, whatever their spelling; anything else as a pattern.
bool EntryMatches(std::string_view address, std::string_view entry) {
    const bool prefix = entry.find('/') != std::string_view::npos;
    if (!prefix && (entry.find(':') == std::string_view::npos || HasWildcard(entry)))
        return MatchPattern(address, entry);
    std::string want, have;
    size_t bits = 0;
    if (prefix ? !ParsePrefix(entry, want, bits) : !AddressBytes(entry, want)) return false;
    if (!prefix) bits = want.size() * 8;
    if (!AddressBytes(address, have) || have.size() != want.size()) return false;
    const size_t whole = bits / 8, rest = bits % 8;
    if (have.compare(0, whole, want, 0, whole) != 0) return false;
    const auto mask = static_cast<unsigned char>(0xff00u >> rest);
    return rest == 0 ||
           ((static_cast<unsigned char>(have[whole]) ^ static_cast<unsigned char>(want[whole])) & mask) == 0;
}

std::string IpKey(size_t n) {
    return "IP" + std::to_string(n);
}

// Walks a list as the admission check does: every value up to and including the
// empty one that ends it.
bool AnyMatches(const TIniFile& config, std::string_view section, std::string_view address) {
    bool matched = false;
    for (size_t n = 0;; ++n) {
        const std::string v = config.ReadString(section, IpKey(n), "");
        matched = EntryMatches(address, v) || matched;
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

bool ValidAddressEntry(std::string_view entry) {
    if (entry.empty() || entry.size() > kMaxPatternLength) return false;
    std::string bytes;
    size_t bits = 0;
    if (entry.find('/') != std::string_view::npos) return ParsePrefix(entry, bytes, bits);
    if (entry.find(':') != std::string_view::npos)
        return HasWildcard(entry) ? entry.find_first_not_of("0123456789abcdefABCDEF:.*?") == std::string_view::npos
                                  : AddressBytes(entry, bytes);
    // IPv4: up to four fields, each a number up to 255 or holding a wildcard; without a
    // wildcard it must be a whole address. "300.1.2.3" and "abc10.0.0.5" are typing errors.
    if (entry.find_first_not_of("0123456789.*?") != std::string_view::npos) return false;
    size_t fields = 0;
    for (size_t start = 0;; ++fields) {
        const size_t dot = entry.find('.', start);
        const std::string_view f = entry.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (f.empty()) return false;
        if (!HasWildcard(f) && (f.size() > 3 || std::stoi(std::string(f)) > 255)) return false;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return fields < 4 && (fields == 3 || HasWildcard(entry));
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

namespace {

// Entries that replace a section: the old one erased, each non-empty entry under "IP"
// and its position in the list.
void ListEntries(std::string_view section, const std::vector<std::string>& list, std::vector<TIniFile::TEntry>& out) {
    out.push_back({std::string(section), "", std::nullopt});
    for (size_t i = 0; i < list.size(); ++i)
        if (!list[i].empty()) out.push_back({std::string(section), IpKey(i), list[i]});
}

// The list as the dialog shows it (after) with what another program changed since the
// dialog read it (before -> now): entries it removed leave, entries it added join at the
// end unless the dialog holds them already. Copies count one by one.
std::vector<std::string> ApplyListEdits(const std::vector<std::string>& now, const std::vector<std::string>& before,
                                        std::vector<std::string> after) {
    std::vector<std::string> added = now, removed;
    for (const std::string& b : before) {
        const auto it = std::find(added.begin(), added.end(), b);
        if (it != added.end())
            added.erase(it);
        else
            removed.push_back(b);
    }
    for (const std::string& r : removed)
        if (const auto it = std::find(after.begin(), after.end(), r); it != after.end()) after.erase(it);
    for (const std::string& a : added)
        if (std::find(after.begin(), after.end(), a) == after.end()) after.push_back(a);
    return after;
}

} // namespace

bool ListHasEntry(const std::vector<std::string>& list, std::string_view entry) {
    return std::find(list.begin(), list.end(), entry) != list.end();
}

void AppendDeny(TIniFile& config, std::string_view address) {
    config.Update([&](const TIniFile& now) -> std::vector<TIniFile::TEntry> {
        return {{std::string(kDenySection), IpKey(ReadAddressList(now, kDenySection).size()), std::string(address)}};
    });
}

TListChange AddAddressEntry(TIniFile& config, std::string_view section, std::string_view entry) {
    if (!ValidAddressEntry(entry)) return TListChange::Invalid;
    TListChange result = TListChange::Done;
    config.Update([&](const TIniFile& now) -> std::vector<TIniFile::TEntry> {
        const std::vector<std::string> list = ReadAddressList(now, section);
        if (ListHasEntry(list, entry)) {
            result = TListChange::Duplicate;
            return {};
        }
        return {{std::string(section), IpKey(list.size()), std::string(entry)}};
    });
    return result;
}

TListChange RemoveAddressEntry(TIniFile& config, std::string_view section, std::string_view entry) {
    TListChange result = TListChange::Done;
    config.Update([&](const TIniFile& now) {
        std::vector<std::string> list = ReadAddressList(now, section);
        std::vector<TIniFile::TEntry> out;
        const auto it = std::find(list.begin(), list.end(), entry);
        if (it == list.end()) {
            result = TListChange::Missing;
            return out;
        }
        list.erase(it);
        ListEntries(section, list, out);
        return out;
    });
    return result;
}

void SaveAddressListEdits(TIniFile& config, const std::vector<std::string>& denyBefore,
                          const std::vector<std::string>& denyAfter, const std::vector<std::string>& allowBefore,
                          const std::vector<std::string>& allowAfter) {
    config.Update([&](const TIniFile& now) {
        std::vector<TIniFile::TEntry> out;
        ListEntries(kDenySection, ApplyListEdits(ReadAddressList(now, kDenySection), denyBefore, denyAfter), out);
        ListEntries(kAllowSection, ApplyListEdits(ReadAddressList(now, kAllowSection), allowBefore, allowAfter), out);
        return out;
    });
}

void WriteAddressLists(TIniFile& config, const std::vector<std::string>& deny, const std::vector<std::string>& allow) {
    std::vector<TIniFile::TEntry> entries;
    ListEntries(kDenySection, deny, entries);
    ListEntries(kAllowSection, allow, entries);
    config.Write(entries);
}

} // namespace nubo
