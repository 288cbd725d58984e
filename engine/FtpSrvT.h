#pragma once
// Helpers of the engine: path text rules, command-line splitting, file sizes.

#include <cstdint>
#include <string>

#include "platform/FileSearch.h"

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

// Removes leading and trailing blanks and control characters (bytes <= 32).
std::string TrimBlanks(const std::string& s);
std::string UpperCase(std::string s);

// One received command line -> keyword (upper case, ASCII letters and digits) and
// parameters (the rest, trailing blanks kept). Telnet pairs are removed first:
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

} // namespace nubo
