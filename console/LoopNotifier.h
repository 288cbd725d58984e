#pragma once
// Drives the server's event loop from Qt's: one QSocketNotifier on the loop's
// descriptor, so sockets, timers and posted calls are served on the GUI thread while
// menus, dialogs and nested Qt loops run.

#include <QObject>
#include <QSocketNotifier>

#include "socket/EventLoop.h"

namespace nubo {

class TLoopNotifier : public QObject {
    Q_OBJECT
public:
    // The loop is not owned and must outlive this object.
    explicit TLoopNotifier(TEventLoop& loop, QObject* parent = nullptr);

private:
    void RunReady();
    void RunPosted();

    TEventLoop& loop_;
    QSocketNotifier notifier_;
};

} // namespace nubo
