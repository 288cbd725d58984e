#pragma once
// The text of listings: LIST lines, MLSD/MLST facts, NLST names, sorted into one listing.

#include <string>
#include <utility>
#include <vector>

#include "platform/FileSearch.h"
#include "platform/Stream.h"

namespace nubo {

// The engine's listing lines: the Unix-style LIST line (with CR LF), the MLSD/MLST
// fact string (without), and a UTC file time as yyyymmddhhnnss.
std::string FormatListLine(const TSearchRec& entry, int currentYear);
std::string FormatFacts(const TSearchRec& entry);
std::string FileTimeText(int64_t fileTime);

// What a listing command sends per entry: NLST names, LIST lines, MLSD facts.
enum class TListingKind { Names, Lines, Facts };

// The search pattern of a listing for a resolved local path: a folder, named with or
// without its trailing separator, lists its contents; anything else is a pattern.
std::string ListingPattern(const std::string& path);
// Whether the pattern's folder exists and, without wildcards, its entry too.
bool ListingTargetExists(const std::string& pattern);
// The prefix of NLST names for a client's argument (local separators): the argument's
// own folder part, so that every name can be used as given ("dir/*" gives "dir/a").
std::string NamePrefix(const std::string& argument, const std::string& pattern);

// One listing: entries in, lines out sorted by name ("." and ".." first); NLST never
// names "." or "..".
class TListingWriter {
public:
    TListingWriter(TListingKind kind, std::string namePrefix);
    void Add(const TSearchRec& entry);
    // A line made elsewhere, sorted in under Name.
    void AddLine(std::string name, std::string line) { lines_.emplace_back(std::move(name), std::move(line)); }
    bool Empty() const { return lines_.empty(); }
    void WriteTo(TStream& stream);

private:
    TListingKind kind_;
    std::string prefix_;
    int year_;
    std::vector<std::pair<std::string, std::string>> lines_; // name, line
};

} // namespace nubo
