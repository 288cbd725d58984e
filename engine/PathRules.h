#pragma once
// The rules of the engine's path text: separators, drives, UNC names, folders.

#include <cstdint>
#include <string>

namespace nubo {

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

// 64-bit size of the first entry matching the path made absolute (hidden entries
// included), or -1 when nothing matches.
int64_t FileSizeOf(const std::string& path);

} // namespace nubo
