#include "engine/ListingText.h"

#include <algorithm>
#include <cstdio>

#include "engine/PathRules.h"
#include "platform/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/Wildcard.h"

namespace nubo {

namespace {
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string UpperExt(const std::string& name) {
    size_t dot = name.rfind('.');
    return dot == std::string::npos ? "" : UpperCase(name.substr(dot));
}
} // namespace

std::string FormatListLine(const TSearchRec& e, int currentYear) {
    if (e.Attr & faVolumeID) return "";
    // Folders carry the execute bits: clients that copy modes must be able to enter them.
    std::string perm = (e.Attr & faDirectory) ? "drwxrwxrwx" : "-rw-rw-rw-";
    if (e.Attr & faReadOnly) perm[2] = perm[5] = perm[8] = '-';
    const std::string ext = UpperExt(e.Name);
    if (ext == ".EXE" || ext == ".COM" || ext == ".BAT") perm[3] = perm[6] = perm[9] = 'x';
    const TDateParts d = DecodeDateTime(e.Time);
    char when[16];
    if (d.Year == currentYear)
        std::snprintf(when, sizeof when, "%2.2d:%2.2d", d.Hour, d.Minute);
    else
        std::snprintf(when, sizeof when, "%5d", d.Year);
    char text[96];
    std::snprintf(text, sizeof text, "%11s %s %2.2d %5s ", std::to_string(e.Size).c_str(),
                  kMonths[(d.Month >= 1 && d.Month <= 12) ? d.Month - 1 : 0], d.Day, when);
    return perm + "   1 ftp      ftp  " + text + e.Name + "\r\n";
}

std::string FileTimeText(int64_t fileTime) {
    const TDateParts d = DecodeDateTime(FileTimeToDateTime(fileTime));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", d.Year, d.Month, d.Day, d.Hour, d.Minute, d.Second);
    return buf;
}

std::string FormatFacts(const TSearchRec& e) {
    if (e.Attr & faVolumeID) return "";
    // The type comes first: some clients (lftp) take a line that begins with the size
    // for another listing format and drop it.
    std::string facts;
    if (e.Attr & faDirectory)
        facts = e.Name == "."    ? "type=cdir;size=0;perm=fdelcmp;"
                : e.Name == ".." ? "type=pdir;size=0;perm=fdelcmp;"
                                 : "type=dir;size=0;perm=fdelcmp;";
    else
        facts = "type=file;size=" + std::to_string(e.Size) + ";perm=" + ((e.Attr & faReadOnly) ? "rw;" : "fdrwa;");
    return facts + "create=" + FileTimeText(e.CreationTime) + ";modify=" + FileTimeText(e.LastWriteTime) + "; " +
           e.Name;
}

std::string ListingPattern(const std::string& path) {
    if (!path.empty() && path.back() == '\\') return path + "*.*";
    const std::string name = path.substr(FolderPart(path).size());
    if (!HasWildcards(name) && DirectoryExists(path)) return path + "\\*.*";
    return path;
}

bool ListingTargetExists(const std::string& pattern) {
    const std::string folder = FolderPart(pattern);
    if (!DirectoryExists(folder)) return false;
    const std::string name = pattern.substr(folder.size());
    return HasWildcards(name) || FileExists(pattern);
}

std::string NamePrefix(const std::string& argument, const std::string& pattern) {
    std::string a = argument;
    // A folder named without its separator lists its contents: they are inside it.
    if (!a.empty() && a.back() != '\\' && pattern.size() > 4 && pattern.compare(pattern.size() - 4, 4, "\\*.*") == 0 &&
        !HasWildcards(a.substr(FolderPart(a).size())))
        a += '\\';
    std::string prefix = FolderPart(a);
    if (prefix == ".\\") prefix.clear();
    return ToClientSeparators(prefix);
}

TListingWriter::TListingWriter(TListingKind kind, std::string namePrefix)
    : kind_(kind), prefix_(std::move(namePrefix)), year_(DecodeDateTime(Now()).Year) {}

void TListingWriter::Add(const TSearchRec& e) {
    std::string line;
    switch (kind_) {
    case TListingKind::Names:
        if (e.Name == "." || e.Name == "..") return;
        line = prefix_ + e.Name + "\r\n";
        break;
    case TListingKind::Lines: line = FormatListLine(e, year_); break;
    case TListingKind::Facts:
        line = FormatFacts(e);
        if (!line.empty()) line += "\r\n";
        break;
    }
    if (!line.empty()) lines_.emplace_back(e.Name, std::move(line));
}

void TListingWriter::WriteTo(TStream& stream) {
    auto rank = [](const std::string& n) { return n == "." ? 0 : n == ".." ? 1 : 2; };
    std::sort(lines_.begin(), lines_.end(), [&](const auto& a, const auto& b) {
        const int ra = rank(a.first), rb = rank(b.first);
        return ra != rb ? ra < rb : a.first < b.first;
    });
    std::string text;
    for (const auto& l : lines_) text += l.second;
    stream.WriteBuffer(text.data(), text.size());
}

} // namespace nubo
