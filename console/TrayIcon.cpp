#include "console/TrayIcon.h"

#include <QPainter>
#include <QPixmap>

namespace nubo {

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent) {
    StartMenu.setObjectName("StartMenu");
    popShow = StartMenu.addAction(QStringLiteral("창 열기"));
    popShow->setObjectName("popShow");
    StartMenu.addSeparator();
    popStart = StartMenu.addAction(QStringLiteral("서버시작"));
    popStart->setObjectName("popStart");
    popStop = StartMenu.addAction(QStringLiteral("서버정지"));
    popStop->setObjectName("popStop");
    popRestart = StartMenu.addAction(QStringLiteral("재시작"));
    popRestart->setObjectName("popRestart");
    StartMenu.addSeparator();
    popExit = StartMenu.addAction(QStringLiteral("프로그램 끝내기"));
    popExit->setObjectName("popExit");

    if (!Available()) return;
    icon_ = new QSystemTrayIcon(StateIcon(image_), this);
    icon_->setContextMenu(&StartMenu);
    connect(icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick) emit Clicked();
    });
}

bool TTrayIcon::Available() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

QIcon TTrayIcon::StateIcon(TTrayState state) {
    // A disc in the state's colour with a white "N": green with users, red stopped,
    // blue running idle.
    const QColor colour = state == TTrayState::Busy   ? QColor(0x2E, 0x9E, 0x3A)
                          : state == TTrayState::Idle ? QColor(0x1F, 0x6F, 0xC8)
                                                      : QColor(0xC8, 0x32, 0x28);
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(colour);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(0.5, 0.5, size - 1.0, size - 1.0));
        QFont f = p.font();
        f.setBold(true);
        f.setPixelSize(size * 2 / 3);
        p.setFont(f);
        p.setPen(Qt::white);
        p.drawText(pm.rect(), Qt::AlignCenter, QStringLiteral("N"));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

void TTrayIcon::SetImage(TTrayState state) {
    image_ = state;
    if (icon_) icon_->setIcon(StateIcon(state));
}

void TTrayIcon::SetHint(const QString& hint) {
    hint_ = hint;
    if (icon_) icon_->setToolTip(hint);
}

void TTrayIcon::Notify(const QString& text) {
    notice_ = text;
    if (icon_ && icon_->isVisible()) icon_->showMessage(QStringLiteral("Nubo FTP Server"), text);
}

void TTrayIcon::SetShown(bool shown) {
    if (icon_) icon_->setVisible(shown);
}

} // namespace nubo
