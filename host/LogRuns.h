#pragma once
// Colour runs of log messages: "#" + six hex digits (RRGGBB) + "<", the run's text,
// ">". Runs nest one level: the outer run's own text keeps the outer colour.
//
// The markup itself has no escape, so text that did not come from this program (user
// names, paths, addresses) must enter a message through LogRun(), which escapes every
// markup character in it: such text can then neither open, close nor forge a run, and
// it reaches the panes and the log file as it was sent.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace nubo {

// The log palette.
inline constexpr std::string_view kLogSeparator = "#EA990B";  // 1: "[", " - ", "] - ", "] "
inline constexpr std::string_view kLogText = "#000000";       // 2: message text, pane font
inline constexpr std::string_view kLogConnNumber = "#000000"; // 3: connection number
inline constexpr std::string_view kLogUser = "#922309";       // 4: user names
inline constexpr std::string_view kLogAddress = "#000000";    // 5: client addresses
inline constexpr std::string_view kLogTime = "#000000";       // 6: date and time
inline constexpr std::string_view kLogDuration = "#000000";   // 7: connection duration
inline constexpr std::string_view kLogPort = "#000000";       // 8: port of the start line
inline constexpr std::string_view kLogFile = "#000000";       // 9: file and directory names
inline constexpr std::string_view kLogBackground = "#FFFFFF"; // 10: pane background

// A run of colour around text, the text escaped (see above).
std::string LogRun(std::string_view colour, std::string_view text);
// A run of a file or folder name, shown as the machine names it (see DisplayPath): the
// one place where the engine's path form turns into what the panes and the log file show.
std::string FileRun(std::string_view path);
// The prefix of messages about one client: "[" number "] " in the palette's colours.
std::string ConnectionPrefix(int connectionNumber);

// The plain text of a message, for the log file and standard output: every
// "#??????<" group and every ">" removed, repeated until nothing changes; escaped
// characters kept as the text they stand for.
std::string StripRuns(std::string_view text);

struct TColourRun {
    uint32_t Rgb; // 0xRRGGBB
    std::string Text;
    bool operator==(const TColourRun&) const = default;
};
using TLogLine = std::vector<TColourRun>;

// The runs to draw for a message. Nothing is lost on malformed markup: text outside
// every run, and a run left open at the end, are drawn in baseRgb; a run whose
// colour is not hexadecimal keeps the enclosing colour; a ">" with no open run is
// dropped, as StripRuns drops it.
TLogLine ParseRuns(std::string_view text, uint32_t baseRgb = 0x000000);

} // namespace nubo
