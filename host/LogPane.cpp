#include "host/LogPane.h"

#include "engine/CommandText.h"

namespace nubo {

const char* LogPaneName(int pane) {
    switch (pane) {
    case lpSystem: return "system";
    case lpConnect: return "connect";
    case lpTransfer: return "transfer";
    }
    return "?";
}

bool TLogPane::TrimIfFull() {
    if (lines_.size() != kMaxLines) return false;
    lines_.pop_front();
    return true;
}

void TStreamLogView::LineAdded(int pane, const TLogLine& line) {
    std::string text = LogPaneName(pane);
    text += ": ";
    for (const auto& run : line) text += PrintableText(run.Text);
    text += '\n';
    std::fputs(text.c_str(), out_);
    std::fflush(out_);
}

} // namespace nubo
