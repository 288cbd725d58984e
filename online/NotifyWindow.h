#pragma once
// TNotifyWindow: a small notification that slides in at the corner of the desktop's
// work area next to the task bar, stays five seconds and slides out. Several stack
// above each other; a click closes one. It frees itself when closed.

#include <QLabel>
#include <QPropertyAnimation>
#include <QTimer>
#include <QWidget>

namespace nubo {

class TNotifyWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 250;
    static constexpr int kHeight = 121;
    static constexpr int kStayMs = 5000;

    // title: shown as "[ title 2.0.0 ]"; text: carriage returns break lines.
    TNotifyWindow(const QString& title, const QString& text);
    ~TNotifyWindow() override;

    QLabel* lblTitle;
    QLabel* lblText;

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void closeEvent(QCloseEvent* e) override;

private:
    void SlideOut();
    void ReleaseSlot();

    int slot_ = 0;
    QTimer stay_;
    QPropertyAnimation slide_;
};

// Notify: shows a notification; the window is returned for the curious.
TNotifyWindow* Notify(const QString& title, const QString& text);

} // namespace nubo
