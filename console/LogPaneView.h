#pragma once
// One log pane on screen: a read-only text box that draws each line of colour runs
// as one block. The host's pane model decides what is added and dropped; this widget
// only mirrors it, one block per model line.

#include <QPlainTextEdit>

#include "host/LogRuns.h"

namespace nubo {

class TLogPaneView : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TLogPaneView(QWidget* parent = nullptr);

    void AddLine(const TLogLine& line);
    void RemoveFirstLine();
    void ClearLines();
    int LineCount() const { return lines_; }
    // The plain text of line i, for tests and screen readers.
    QString LineText(int i) const;

private:
    void ScrollToEnd();
    int lines_ = 0;
};

} // namespace nubo
