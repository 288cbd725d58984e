#include "console/LogPaneView.h"

#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

namespace nubo {

namespace {
QColor Rgb(uint32_t rgb) {
    return QColor(int(rgb >> 16) & 0xFF, int(rgb >> 8) & 0xFF, int(rgb) & 0xFF);
}

// A client's name or path may hold line breaks; one message must stay one block.
QString PaneText(const std::string& text) {
    QString s = QString::fromUtf8(text.data(), qsizetype(text.size()));
    for (QChar& ch : s)
        if (ch.unicode() < 0x20 || ch.unicode() == 0x7F || ch == QChar::LineSeparator ||
            ch == QChar::ParagraphSeparator)
            ch = u'?';
    return s;
}
} // namespace

TLogPaneView::TLogPaneView(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setUndoRedoEnabled(false);
    // The palette's background (colour 10) and message colour (colour 2).
    QPalette p = palette();
    p.setColor(QPalette::Base, Rgb(0xFFFFFF));
    p.setColor(QPalette::Text, Rgb(0x000000));
    setPalette(p);
}

void TLogPaneView::AddLine(const TLogLine& line) {
    QTextCursor c(document());
    c.movePosition(QTextCursor::End);
    // Line n is block n; no empty block trails the last line, so the end of the pane
    // is the last message.
    if (lines_ > 0) c.insertBlock(QTextBlockFormat(), QTextCharFormat());
    for (const auto& run : line) {
        QTextCharFormat f;
        f.setForeground(Rgb(run.Rgb));
        c.insertText(PaneText(run.Text), f);
    }
    ++lines_;
    ScrollToEnd();
}

void TLogPaneView::RemoveFirstLine() {
    if (lines_ <= 1) {
        ClearLines();
        return;
    }
    QTextCursor c(document()->firstBlock());
    c.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    c.removeSelectedText();
    --lines_;
    ScrollToEnd();
}

void TLogPaneView::ClearLines() {
    clear();
    lines_ = 0;
}

QString TLogPaneView::LineText(int i) const {
    return i >= 0 && i < lines_ ? document()->findBlockByNumber(i).text() : QString();
}

// Down to the newest line, but not sideways: the end of a long line would otherwise
// pull every later line's beginning out of view.
void TLogPaneView::ScrollToEnd() {
    const int across = horizontalScrollBar()->value();
    QTextCursor c = textCursor();
    c.movePosition(QTextCursor::End);
    setTextCursor(c);
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    horizontalScrollBar()->setValue(across);
}

} // namespace nubo
