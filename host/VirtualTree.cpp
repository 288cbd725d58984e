#include "host/VirtualTree.h"

#include <algorithm>

#include "engine/PathRules.h"
#include "platform/FileSystem.h"
#include "platform/PathMap.h"
#include "platform/Text.h"

namespace nubo {

namespace {
// Whole components: child equals parent, or continues it after a separator.
bool UnderResolved(const std::string& child, const std::string& parent) {
    if (parent.empty() || child.empty()) return false;
    std::string p = parent;
    if (p.back() == '\\') p.pop_back();
    return child == p || (child.size() > p.size() && child.compare(0, p.size(), p) == 0 && child[p.size()] == '\\');
}

// The path with its links followed, without a trailing separator; the text itself when
// it names nothing the system can resolve (another drive, a folder not readable).
std::string RealOrText(const std::string& path) {
    std::string real = ResolvedPath(path);
    if (real.empty()) real = NormalizePath(path);
    if (real.size() > 3 && real.back() == '\\') real.pop_back();
    return real;
}

bool UnderNoCase(const std::string& child, const std::string& parent) {
    return child.size() >= parent.size() && SameText(child.substr(0, parent.size()), parent) &&
           (child.size() == parent.size() || child[parent.size()] == '\\' || parent.back() == '\\');
}
} // namespace

size_t FindNoCase(const std::string& hay, const std::string& needle, size_t from) {
    if (needle.empty()) return from <= hay.size() ? from : std::string::npos;
    auto it = std::search(hay.begin() + long(std::min(from, hay.size())), hay.end(), needle.begin(), needle.end(),
                          [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
    return it == hay.end() ? std::string::npos : size_t(it - hay.begin());
}

std::string ReplaceAllNoCase(const std::string& s, const std::string& from, const std::string& to) {
    if (from.empty()) return s;
    std::string out;
    size_t pos = 0, hit;
    while ((hit = FindNoCase(s, from, pos)) != std::string::npos) {
        out += s.substr(pos, hit - pos) + to;
        pos = hit + from.size();
    }
    return out + s.substr(pos);
}

std::string WithSlash(std::string f) {
    if (f.empty() || f.back() != '\\') f += '\\';
    return f;
}

std::string NormalizePath(const std::string& p) {
    std::string r = p;
    // A path that ends in "\.." or "\." is resolved as text too: the system would climb
    // out of a link's target instead.
    const auto dotted = [](const std::string& s) {
        return s.find("./") != std::string::npos || s.find(".\\") != std::string::npos || s.ends_with("\\..") ||
               s.ends_with("\\.");
    };
    // A bounded loop: an expansion that leaves a pair behind is not expanded forever.
    for (int i = 0; i < 4 && dotted(r); ++i) {
        std::string full = ExpandFileName(r);
        if (full == r) break;
        r = full;
    }
    return r;
}

TVirtualTree::TVirtualTree(std::vector<TVirtualEntry> entries, std::string home)
    : entries_(std::move(entries)), home_(std::move(home)) {}

TVirtualTree TVirtualTree::ForAccount(const TUserFile& users, const std::string& account, const std::string& home) {
    return TVirtualTree(users.VirtualEntries(account), home);
}

std::string TVirtualTree::MapVirtualPath(std::string p) const {
    for (size_t i = 1; i < entries_.size(); ++i) {
        const auto& e = entries_[i];
        if (!nubo::HasLetter(e.Letters, 'V') || e.Alias.empty()) continue;
        const size_t start = home_.empty() ? 0 : home_.size() - 1;
        const std::string tail = start < p.size() ? p.substr(start) : std::string();
        // The alias itself names the folder too ("LIST pub"), not only what is inside it.
        if (FindNoCase(tail, e.Alias + "\\") == std::string::npos && !SameText(tail, "\\" + e.Alias)) continue;
        p = ReplaceAllNoCase(p, home_ + e.Alias, e.Folder);
    }
    return p;
}

bool TVirtualTree::IsRestricted(const std::string& t) const {
    const std::string folder = FolderPart(t);
    for (const auto& e : entries_)
        if (nubo::HasLetter(e.Letters, 'A') && FindNoCase(folder, WithSlash(e.Folder)) != std::string::npos)
            return true;
    return false;
}

// Decided where the path really leads: a link inside the home does not lend the home's
// letters to the folder it points to. The deepest entry that covers the path decides.
bool TVirtualTree::HasLetter(const std::string& t, char letter) const {
    const std::string real = RealOrText(t);
    const std::string folder = RealOrText(FolderPart(real));
    const TVirtualEntry* decides = nullptr;
    size_t depth = 0;
    for (const auto& e : entries_) {
        const std::string f = RealOrText(WithSlash(e.Folder));
        const bool covers = nubo::HasLetter(e.Letters, 'S') ? UnderNoCase(real, f) : SameText(f, folder);
        if (covers && (!decides || f.size() > depth)) {
            decides = &e;
            depth = f.size();
        }
    }
    return decides && nubo::HasLetter(decides->Letters, letter);
}

bool TVirtualTree::Contains(const std::string& t) const {
    const std::string real = ResolvedPath(t);
    if (real.empty()) return false;
    bool inside = false;
    for (size_t i = 0; i < entries_.size(); ++i) {
        const auto& e = entries_[i];
        // The home entry stands for the connection's home folder.
        const std::string folder = i == 0 ? home_ : e.Folder;
        if (i > 0 && !nubo::HasLetter(e.Letters, 'V') && !nubo::HasLetter(e.Letters, 'A')) continue;
        const std::string realFolder = ResolvedPath(WithSlash(folder));
        if (!UnderResolved(real, realFolder)) continue;
        if (nubo::HasLetter(e.Letters, 'A')) return false;
        inside = true;
    }
    return inside;
}

bool TVirtualTree::IsRoot(const std::string& t) const {
    const std::string real = RealOrText(t);
    for (size_t i = 0; i < entries_.size(); ++i)
        if (SameText(real, RealOrText(WithSlash(i == 0 ? home_ : entries_[i].Folder)))) return true;
    return false;
}

bool TVirtualTree::InTree(const std::string& dir) const {
    if (FindNoCase(dir, home_) == 0) return true;
    for (size_t i = 1; i < entries_.size(); ++i)
        if (nubo::HasLetter(entries_[i].Letters, 'V') && FindNoCase(dir, WithSlash(entries_[i].Folder)) == 0)
            return true;
    return false;
}

bool TVirtualTree::AboveAlias(const std::string& dir) const {
    if (InTree(dir)) return false;
    for (size_t i = 1; i < entries_.size(); ++i)
        if (nubo::HasLetter(entries_[i].Letters, 'V') && FindNoCase(WithSlash(entries_[i].Folder), dir) == 0)
            return true;
    return false;
}

bool TVirtualTree::ShowAliases(std::string& text) const {
    std::vector<const TVirtualEntry*> aliases;
    for (size_t i = 1; i < entries_.size(); ++i)
        if (nubo::HasLetter(entries_[i].Letters, 'V') && !entries_[i].Alias.empty()) aliases.push_back(&entries_[i]);
    std::sort(aliases.begin(), aliases.end(),
              [](const TVirtualEntry* a, const TVirtualEntry* b) { return a->Folder.size() > b->Folder.size(); });
    bool changed = false;
    for (const auto* e : aliases) {
        const std::string local = ToClientSeparators(WithSlash(e->Folder));
        if (FindNoCase(text, local) == std::string::npos) continue;
        text = ReplaceAllNoCase(text, local, "/" + e->Alias + "/");
        changed = true;
    }
    return changed;
}

} // namespace nubo
