#pragma once
// The notification-area icon with its hint, its three state images and the menu
// StartMenu. On a desktop without a notification area there is no icon at all; the
// menu and its actions still exist, so the window's enabling code stays the same.

#include <QAction>
#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include "host/ServerState.h"

namespace nubo {

class TTrayIcon : public QObject {
    Q_OBJECT
public:
    explicit TTrayIcon(QObject* parent = nullptr);

    // Whether the desktop has a notification area for the icon.
    static bool Available();
    static QIcon StateIcon(TTrayState state);

    void SetImage(TTrayState state);
    TTrayState Image() const { return image_; }
    void SetHint(const QString& hint);
    QString Hint() const { return hint_; }
    // Shows or removes the icon; without a notification area it stays removed.
    void SetShown(bool shown);
    bool Shown() const { return icon_ && icon_->isVisible(); }

    // Shows a passing notice from the icon (where there is one); the last is kept.
    void Notify(const QString& text);
    QString LastNotice() const { return notice_; }

    QMenu StartMenu;
    QAction* popShow; // "창 열기"
    QAction* popStart;
    QAction* popStop;
    QAction* popRestart;
    QAction* popExit;

signals:
    void Clicked();

private:
    QSystemTrayIcon* icon_ = nullptr;
    TTrayState image_ = TTrayState::Stopped;
    QString hint_;
    QString notice_;
};

} // namespace nubo
