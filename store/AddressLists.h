#pragma once
// The client address lists in ftp_config.ini: sections "IP Deny" and "IP Allow", keys
// IP0, IP1, ... numbered without gaps. Read afresh for every check.

#include <string>
#include <string_view>
#include <vector>

#include "store/IniFile.h"

namespace nubo {

inline constexpr std::string_view kDenySection = "IP Deny";
inline constexpr std::string_view kAllowSection = "IP Allow";
inline constexpr size_t kMaxPatternLength = 255;

// "*" matches any run of characters, "?" exactly one; everything else only itself,
// case-sensitively. Address and pattern count up to 255 characters each.
bool MatchPattern(std::string_view address, std::string_view pattern);

// Whether an entry can stand in a list: an IPv6 address or an address prefix
// ("2001:db8::/32", "10.0.0.0/8") must parse as one; an IPv4 entry is a whole address or
// up to four fields with wildcards ("192.168.*", "10.0.?.*"), each plain field a number up
// to 255. Entries already in a file are matched as they stand.
bool ValidAddressEntry(std::string_view entry);

// False when a deny entry matches and no allow entry does. An IPv6 address or a prefix
// compares by the address's bytes; any other entry is a pattern for MatchPattern.
bool AccessCheck(const TIniFile& config, std::string_view address);

// Entries of one list from IP0 up to the first missing or empty key.
std::vector<std::string> ReadAddressList(const TIniFile& config, std::string_view section);

// The ban command: the address as it stands under the first free key of "IP Deny".
void AppendDeny(TIniFile& config, std::string_view address);

// Whether the list holds the entry, as typed (a second copy would change nothing).
bool ListHasEntry(const std::vector<std::string>& list, std::string_view entry);

// One entry added to (after the last) or removed from a list (the rest renumbered
// from IP0), checked against the file as it is at that moment.
enum class TListChange { Done, Invalid, Duplicate, Missing };
TListChange AddAddressEntry(TIniFile& config, std::string_view section, std::string_view entry);
TListChange RemoveAddressEntry(TIniFile& config, std::string_view section, std::string_view entry);

// The address-list dialog's save: the lists as the dialog shows them (after), with what
// another program changed in the file since the dialog read it (before) kept: an entry
// added meanwhile stays, one removed meanwhile stays removed.
void SaveAddressListEdits(TIniFile& config, const std::vector<std::string>& denyBefore,
                          const std::vector<std::string>& denyAfter, const std::vector<std::string>& allowBefore,
                          const std::vector<std::string>& allowAfter);

// Both sections replaced; each non-empty entry is stored
// under "IP" and its position in its list.
void WriteAddressLists(TIniFile& config, const std::vector<std::string>& deny, const std::vector<std::string>& allow);

} // namespace nubo
