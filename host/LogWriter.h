#pragma once
// The one log writer: a message becomes a time-stamped line of colour runs in one of
// the three panes and, with the Log setting on, a plain line in the daily file
// log/log-yyyy-mm-dd.log of the program folder.
//
// A daily file that cannot be written never stops the message: the line still
// reaches the panes, and the failure is reported once on the system pane (again only
// after a later write has succeeded).

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "host/LogPane.h"
#include "store/LangText.h"
#include "store/Settings.h"

namespace nubo {

class TLogWriter {
public:
    // settings: the in-memory flags Log and AddDate, read at each message.
    // programDir: the folder of "log", with its trailing separator.
    TLogWriter(const TSettings& settings, std::string programDir);

    // pane: lpSystem, lpConnect or lpTransfer; text: a message with optional runs.
    void WriteLog(int pane, std::string_view text);
    // A line without time stamp or runs, not written to the file (start-up lines).
    void WritePlain(int pane, std::string_view text);
    // The program's name and version, then a blank line, on the system pane: the first
    // lines of every start, in the texts of lang.
    void WriteVersionLines(const TLangTexts& lang);
    // Empties the three panes; the files are not touched.
    void Clear();

    const TLogPane& Pane(int pane) const { return panes_.at(size_t(pane)); }
    // The view is not owned; nullptr detaches it.
    void SetView(TLogView* view) { view_ = view; }
    // The clock, replaceable in tests.
    std::function<std::chrono::system_clock::time_point()> Now = [] { return std::chrono::system_clock::now(); };

private:
    // Appends one line; false when the file cannot be written.
    bool AppendToDailyFile(std::chrono::system_clock::time_point now, std::string_view text, std::string& error);
    TLogLine DisplayLine(std::chrono::system_clock::time_point now, std::string_view text) const;
    void AddLine(int pane, TLogLine line);

    const TSettings& settings_;
    std::string dir_;
    std::array<TLogPane, kLogPaneCount> panes_;
    TLogView* view_ = nullptr;
    bool fileFailed_ = false;
};

} // namespace nubo
