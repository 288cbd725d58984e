#include "console/LoopNotifier.h"

#include <QAbstractEventDispatcher>
#include <QThread>

namespace nubo {

TLoopNotifier::TLoopNotifier(TEventLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), notifier_(loop.Fd(), QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, &TLoopNotifier::RunReady);
    // A call posted from a Qt handler (a button's stop drops clients by posting) can be
    // pending while the descriptor is not yet readable; run such calls before Qt sleeps.
    if (auto* dispatcher = QAbstractEventDispatcher::instance(thread()))
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &TLoopNotifier::RunPosted);
}

void TLoopNotifier::RunReady() {
    loop_.RunOnce(0);
}

void TLoopNotifier::RunPosted() {
    if (loop_.HasPosted()) loop_.RunOnce(0);
}

} // namespace nubo
