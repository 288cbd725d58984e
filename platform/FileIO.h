#pragma once
// The program's own files, on native paths: whole-file reads, atomic replacement,
// appended lines and the identity that tells one version of a file from the next.
// These are the INI files and daily logs of the program folder, never a client's
// engine path (see FileSystem.h for those). Failures come back as the system's error
// number, so that each caller words its own message.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nubo {

// 0, or the error number of the failure; what was read is appended to bytes.
int ReadWholeFile(const std::string& path, std::string& bytes);

// Appends bytes to the file, made (mode 0644) when missing; 0, or the error number.
int AppendToFile(const std::string& path, std::string_view bytes);

enum class TAtomicWrite { Written, KeptExisting, Failed };

// Writes bytes as the file's whole new content so that a crash or a full disk leaves
// the old file whole: a temporary file beside it (the file's name, a dot and six
// letters or digits) with the mode of the file it replaces (newFileMode for a new one),
// flushed to the disk, then renamed over it. The temporary is made readable by its owner
// only, so a secret written with newFileMode 0600 is never readable by others on the way.
// With onlyIfMissing an existing file is kept (KeptExisting). On Failed, error holds the
// error number, the temporary is gone and any old file is untouched.
TAtomicWrite WriteFileAtomically(const std::string& path, std::string_view bytes, bool onlyIfMissing, int& error,
                                 int newFileMode = 0644);

// Removes what an interrupted WriteFileAtomically of path left behind (its temporary
// files beside it); returns their names.
std::vector<std::string> RemoveStaleTemporaries(const std::string& path);

// What changes whenever a file's content may have: replaced (another inode), grown,
// shrunk, written or touched.
struct TFileIdentity {
    uint64_t Device = 0, Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedSec = 0, ModifiedNsec = 0; // last write
    int64_t ChangedSec = 0, ChangedNsec = 0;   // last change of content or attributes
    bool operator==(const TFileIdentity&) const = default;
};

// False, leaving id alone, when path is not a regular file (missing, a folder, ...).
bool RegularFileIdentity(const std::string& path, TFileIdentity& id);

} // namespace nubo
