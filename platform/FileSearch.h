#pragma once
// Directory search with wildcards, in the manner of FindFirst/FindNext: the last
// component of an engine path may hold '*' and '?' (see Wildcard.h); earlier components
// are taken literally. Symbolic links are followed; a dangling link, and anything that is
// neither a file nor a folder (device, pipe, socket), is not listed at all.
//
// Entries come in the order the file system returns them. The root C:\ lists no "."
// and ".." entries; other folders do.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/DateTime.h"

namespace nubo {

// Attribute bits of an entry, and the include mask of a search.
enum : int {
    faReadOnly = 0x01, // the server may not write it (by its permission bits)
    faHidden = 0x02,   // the name starts with "."
    faSysFile = 0x04,  // never set here
    faVolumeID = 0x08, // never set here
    faDirectory = 0x10,
    faArchive = 0x20, // never set here
    faAnyFile = 0x3F,
};

struct TSearchRec {
    std::string Name; // without folder
    int Attr = 0;
    int64_t Size = 0;          // 0 for folders
    TDateTime Time = 0;        // last write, local time
    int64_t CreationTime = 0;  // UTC, 100-ns units since 1601 (birth, else change time)
    int64_t LastWriteTime = 0; // UTC, 100-ns units since 1601
};

class TFileSearch {
public:
    TFileSearch();
    ~TFileSearch();
    TFileSearch(const TFileSearch&) = delete;
    TFileSearch& operator=(const TFileSearch&) = delete;

    // Starts a search for Pattern (an engine path). Entries with the hidden, system or
    // directory attribute are returned only when Attr includes that bit; the others
    // always. False when nothing matches.
    bool First(const std::string& pattern, int attr, TSearchRec& rec);
    bool Next(TSearchRec& rec);
    void Close();

private:
    struct State;
    std::unique_ptr<State> st_;
};

// The first entry matching Pattern, or false.
bool FindFirstEntry(const std::string& pattern, int attr, TSearchRec& rec);

// The entry of one path taken literally (no wildcards), whatever its attributes.
bool StatEntry(const std::string& path, TSearchRec& rec);

} // namespace nubo
