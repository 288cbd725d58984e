#include "host/LogWriter.h"

#include <cstring>
#include <ctime>

#include "engine/CommandText.h"
#include "platform/FileIO.h"
#include "platform/LocalTime.h"

namespace nubo {

namespace {

constexpr uint32_t kTextRgb = 0x000000; // palette colour 2

std::string Stamp(std::chrono::system_clock::time_point t, const char* format) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    const std::tm tm = LocalCalendarTime(tt);
    char buf[32];
    return std::string(buf, std::strftime(buf, sizeof buf, format, &tm));
}

std::string TimeText(std::chrono::system_clock::time_point t) {
    return Stamp(t, "%H:%M:%S");
}
std::string DateText(std::chrono::system_clock::time_point t) {
    return Stamp(t, "%Y-%m-%d");
}

} // namespace

TLogWriter::TLogWriter(const TSettings& settings, std::string programDir)
    : settings_(settings), dir_(std::move(programDir)) {}

bool TLogWriter::AppendToDailyFile(std::chrono::system_clock::time_point now, std::string_view text,
                                   std::string& error) {
    const std::string path = dir_ + "log/log-" + DateText(now) + ".log";
    const std::string line = "[" + TimeText(now) + "] - " + std::string(text) + "\r\n";
    if (const int err = AppendToFile(path, line); err != 0) {
        error = path + ": " + std::strerror(err);
        return false;
    }
    return true;
}

void TLogWriter::AddLine(int pane, TLogLine line) {
    panes_.at(size_t(pane)).Add(std::move(line));
    if (view_) view_->LineAdded(pane, panes_[size_t(pane)].Lines().back());
    // Every pane is trimmed, not only the written one.
    for (int p = 0; p < kLogPaneCount; ++p)
        if (panes_[size_t(p)].TrimIfFull() && view_) view_->FirstLineRemoved(p);
}

TLogLine TLogWriter::DisplayLine(std::chrono::system_clock::time_point now, std::string_view text) const {
    std::string line = LogRun(kLogSeparator, "[");
    if (settings_.AddDate) line += LogRun(kLogTime, DateText(now)) + LogRun(kLogSeparator, " - ");
    line += LogRun(kLogTime, TimeText(now)) + LogRun(kLogSeparator, "] - ");
    // The caller's own runs end up nested in the message run.
    line += std::string(kLogText) + "<" + std::string(text) + ">";
    return ParseRuns(line, kTextRgb);
}

void TLogWriter::WriteLog(int pane, std::string_view text) {
    const auto now = Now();
    std::string error;
    const bool fileOk = !settings_.Log || AppendToDailyFile(now, PrintableText(StripRuns(text)), error);
    AddLine(pane, DisplayLine(now, text));
    if (fileOk) {
        if (settings_.Log) fileFailed_ = false;
    } else if (!fileFailed_) {
        fileFailed_ = true;
        AddLine(lpSystem, DisplayLine(now, "The log file cannot be written: " + LogRun(kLogFile, error)));
    }
}

void TLogWriter::WritePlain(int pane, std::string_view text) {
    AddLine(pane, text.empty() ? TLogLine{} : TLogLine{{kTextRgb, std::string(text)}});
}

void TLogWriter::WriteVersionLines(const TLangTexts& lang) {
    WritePlain(lpSystem, FormatText(lang.LangText(sVersion), {NUBO_VERSION}));
    WritePlain(lpSystem, lang.LangText(sVersion2));
    WritePlain(lpSystem, "");
}

void TLogWriter::Clear() {
    for (auto& p : panes_) p.Clear();
    if (view_) view_->PanesCleared();
}

} // namespace nubo
