#pragma once
// The file operations of the engine, on engine paths (see PathMap.h). Symbolic links are
// followed like what they point to; a dangling link is a missing file; nothing here ever
// creates a link. Anything that is neither a regular file nor a folder counts as missing.

#include <string>

#include "platform/DateTime.h"

namespace nubo {

// The path made absolute with every symbolic link of its existing part resolved, in
// engine form (the part that does not exist yet is appended as given). Empty when the
// path names nothing on this machine or cannot be resolved (too long, a link loop).
std::string ResolvedPath(const std::string& path);

bool FileExists(const std::string& path);      // a regular file
bool DirectoryExists(const std::string& path); // a folder

// Removes a file (never a folder). Through a link it removes the link.
bool RemoveFile(const std::string& path);
// Renames a file; never replaces an existing entry at the target.
bool RenameFile(const std::string& from, const std::string& to);
// Creates one folder; its parent must exist.
bool CreateDir(const std::string& path);
// Removes an empty folder.
bool RemoveDir(const std::string& path);
// Moves a folder to another name or place on the same volume; never replaces an
// existing entry at the target.
bool MoveDir(const std::string& from, const std::string& to);

// The last-write time of a file or folder in local time (UTC minus TimeZoneBias()).
bool FileLastWrite(const std::string& path, TDateTime& local);
// Opens the file for writing and sets its last-write time, given as UTC when utc is
// true, else as local time (converted with TimeZoneBias()).
bool SetFileLastWrite(const std::string& path, TDateTime t, bool utc);

// Minutes to add to local time to get UTC, as the system reports it now.
int TimeZoneBias();

// Creates a new empty file "FTP" + hexadecimal number + ".TMP" in Folder, exclusively
// (an existing name is never reused), and returns its engine path; empty on failure.
std::string CreateUniqueTempFile(const std::string& folder);

} // namespace nubo
