#pragma once
// The three log panes as lines of colour runs, and the view interface through which
// a console draws them.

#include <cstdio>
#include <deque>

#include "host/LogRuns.h"

namespace nubo {

enum TLogPaneIndex { lpSystem = 0, lpConnect = 1, lpTransfer = 2 };
inline constexpr int kLogPaneCount = 3;
const char* LogPaneName(int pane); // "system", "connect", "transfer"

// One pane's lines. A pane that reaches kMaxLines after a message loses its first
// line, so a full pane keeps the latest kMaxLines - 1.
class TLogPane {
public:
    static constexpr size_t kMaxLines = 5000;

    const std::deque<TLogLine>& Lines() const { return lines_; }
    void Add(TLogLine line) { lines_.push_back(std::move(line)); }
    // Drops the first line when the pane is full; returns whether it did.
    bool TrimIfFull();
    void Clear() { lines_.clear(); }

private:
    std::deque<TLogLine> lines_;
};

// Implemented by whatever shows the panes; called after the model has changed.
class TLogView {
public:
    virtual ~TLogView() = default;
    virtual void LineAdded(int pane, const TLogLine& line) = 0;
    virtual void FirstLineRemoved(int pane) = 0;
    virtual void PanesCleared() = 0;
};

// The headless view: each line as plain text, prefixed with its pane's name.
// Control characters become "?", so a client's name cannot drive the terminal.
class TStreamLogView : public TLogView {
public:
    explicit TStreamLogView(FILE* out) : out_(out) {}
    void LineAdded(int pane, const TLogLine& line) override;
    void FirstLineRemoved(int) override {}
    void PanesCleared() override {}

private:
    FILE* out_;
};

} // namespace nubo
