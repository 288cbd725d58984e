#pragma once
// Helpers of the engine: path text rules, command-line splitting, file sizes.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FileSearch.h"
#include "platform/Stream.h"
#include "platform/Text.h"

namespace nubo {

using TFtpString = std::string;

// '/' -> '\' and '\' -> '/'.
std::string ToLocalSeparators(std::string s);
std::string ToClientSeparators(std::string s);

// At least two characters, the first two being '\'.
bool IsUNC(const std::string& s);
// "\D:\x" -> "D:\x": clients that write /D:/x send a slash before the drive.
std::string StripLeadingBackslash(const std::string& s);
// "C:" for "C:\x"; "\\srv\share" for a UNC path; "" otherwise.
std::string DrivePart(const std::string& s);
// Everything up to and including the last '\' or ':'; "" when there is neither.
std::string FolderPart(const std::string& s);
// The folder of D from which A (an absolute client path) repeats D's tail.
std::string OverlapRoot(const std::string& D, const std::string& A);

// A path as a 257 reply quotes it: every '"' doubled.
std::string QuotedPath(const std::string& path);

// Every control byte (below 32, and 127) as '?': what a person or a client reads never
// carries a byte that could forge a line. PrintableReply keeps the CR LF pairs that
// separate the lines of a multi-line reply.
std::string PrintableText(std::string_view s);
std::string PrintableReply(std::string_view s);

// One received command line -> keyword (upper case, ASCII letters and digits) and
// parameters (the rest after one separating blank, further blanks kept). Telnet pairs are removed first:
// 255 255 becomes 255, 255 followed by any other byte is dropped with it.
void SplitCommandLine(const char* buf, int len, std::string& keyword, std::string& params);

// Replaces the first "%s" of fmt by arg (the reply texts carry at most one or two).
std::string Fmt(const std::string& fmt, const std::string& a);
std::string Fmt(const std::string& fmt, const std::string& a, const std::string& b);

// 64-bit size of the first entry matching the path made absolute (hidden entries
// included), or -1 when nothing matches.
int64_t FileSizeOf(const std::string& path);

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
