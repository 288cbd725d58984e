#pragma once
// The text of commands and replies: splitting a received line, filling reply texts,
// quoting paths and keeping control bytes out of what is sent or logged.

#include <string>
#include <string_view>

namespace nubo {

using TFtpString = std::string;

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

// Names on the wire are UTF-8. One that is not valid UTF-8 comes from an older client
// that sends its code page: it is read as CP949 when all of it is CP949 (true: name now
// holds the UTF-8 form). Bytes that are neither stay as they are, so that a name on disk
// that is neither can still be named by the bytes its listing showed.
bool NameToUtf8(std::string& name);

// Replaces the first "%s" of fmt by arg (the reply texts carry at most one or two).
std::string Fmt(const std::string& fmt, const std::string& a);
std::string Fmt(const std::string& fmt, const std::string& a, const std::string& b);

} // namespace nubo
