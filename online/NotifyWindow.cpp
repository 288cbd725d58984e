#include "online/NotifyWindow.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <set>

namespace nubo {

namespace {

// Slots taken by the notifications on screen; a new one takes the lowest free slot,
// counted upwards from the corner.
std::set<int>& TakenSlots() {
    static std::set<int> taken;
    return taken;
}

int TakeSlot() {
    int s = 0;
    while (TakenSlots().count(s)) ++s;
    TakenSlots().insert(s);
    return s;
}

} // namespace

TNotifyWindow::TNotifyWindow(const QString& title, const QString& text)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), slot_(TakeSlot()),
      slide_(this, "pos") {
    setObjectName("NotifyWindow");
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_StyledBackground); // the style sheet paints background and border
    setFixedSize(kWidth, kHeight);
    setStyleSheet(QStringLiteral("#NotifyWindow { background: #fdfdf4; border: 1px solid #7a8ca5; }"));
    lblTitle = new QLabel(QStringLiteral("[ %1 %2 ]").arg(title, QStringLiteral(NUBO_VERSION)), this);
    lblTitle->setObjectName("lblTitle");
    QFont bold = lblTitle->font();
    bold.setBold(true);
    lblTitle->setFont(bold);
    lblText = new QLabel(QString(text).replace(u'\r', u'\n'), this);
    lblText->setObjectName("lblText");
    lblText->setAlignment(Qt::AlignCenter);
    lblText->setWordWrap(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->addWidget(lblTitle);
    layout->addWidget(lblText, 1);

    // In from the right edge of the work area at its slot, out the same way.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint shown(area.right() - kWidth, area.bottom() - (slot_ + 1) * kHeight);
    const QPoint hidden(area.right() + 1, shown.y());
    slide_.setDuration(300);
    slide_.setStartValue(hidden);
    slide_.setEndValue(shown);
    move(hidden);
    show();
    slide_.start();

    stay_.setSingleShot(true);
    stay_.start(kStayMs);
    connect(&stay_, &QTimer::timeout, this, &TNotifyWindow::SlideOut);
}

TNotifyWindow::~TNotifyWindow() {
    ReleaseSlot();
}

// The place is free as soon as the window closes; it is deleted later.
void TNotifyWindow::closeEvent(QCloseEvent* e) {
    ReleaseSlot();
    QWidget::closeEvent(e);
}

void TNotifyWindow::ReleaseSlot() {
    if (slot_ >= 0) TakenSlots().erase(slot_);
    slot_ = -1;
}

void TNotifyWindow::SlideOut() {
    slide_.stop();
    slide_.setStartValue(pos());
    slide_.setEndValue(QPoint(pos().x() + kWidth + 1, pos().y()));
    connect(&slide_, &QPropertyAnimation::finished, this, &QWidget::close);
    slide_.start();
}

void TNotifyWindow::mousePressEvent(QMouseEvent*) {
    close();
}

TNotifyWindow* Notify(const QString& title, const QString& text) {
    return new TNotifyWindow(title, text);
}

} // namespace nubo
