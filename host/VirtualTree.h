#pragma once
// One account's folder tree: the home entry (Dir0) and up to four virtual folders,
// each with its permission letters and alias. Answers the policy's questions on local
// (engine-form) paths: mapping of alias paths, restriction, letters, containment, and
// the client's view of a local path.

#include <string>
#include <vector>

#include "store/UserFile.h"

namespace nubo {

// While the path holds "./" or ".\", its full form ("." dropped, ".." climbing).
std::string NormalizePath(const std::string& p);

class TVirtualTree {
public:
    // entries[0] is the home entry; home is the connection's HomePath (trailing '\').
    TVirtualTree(std::vector<TVirtualEntry> entries, std::string home);
    static TVirtualTree ForAccount(const TUserFile& users, const std::string& account, const std::string& home);

    const std::string& Home() const { return home_; }
    const std::vector<TVirtualEntry>& Entries() const { return entries_; }

    // home + alias, anywhere in p, becomes the alias's folder (entries with V).
    std::string MapVirtualPath(std::string p) const;
    // Some entry with A has its folder in the folder part of t.
    bool IsRestricted(const std::string& t) const;
    // Some entry that applies to t carries the letter.
    bool HasLetter(const std::string& t, char letter) const;
    // t is inside the home or a virtual folder, without escaping through "..", links or
    // drive tricks, and not inside a restricted folder: whole path components of the
    // resolved paths are compared.
    bool Contains(const std::string& t) const;
    // The home or a virtual folder itself (links followed): the account's roots, which a
    // client may list but never remove or rename.
    bool IsRoot(const std::string& t) const;
    // Inside the home or a V entry's folder, by text (ignoring case).
    bool InTree(const std::string& dir) const;
    // An ancestor of some alias folder that is outside the tree (where CDUP from an
    // alias's top lands): the client's view of it is the root.
    bool AboveAlias(const std::string& dir) const;
    // Every local path of a V entry's folder in text (client separators) becomes
    // "/alias/"; the longest folders first. Returns whether anything changed.
    bool ShowAliases(std::string& text) const;

private:
    std::vector<TVirtualEntry> entries_;
    std::string home_;
};

// Folder F with one trailing '\' when it has none.
std::string WithSlash(std::string f);
// Case-insensitive (ASCII) search and replace-all.
size_t FindNoCase(const std::string& hay, const std::string& needle, size_t from = 0);
std::string ReplaceAllNoCase(const std::string& s, const std::string& from, const std::string& to);

} // namespace nubo
