#include "socket/EventLoop.h"

namespace nubo {

TEventLoop& TEventLoop::Current() {
    thread_local TEventLoop loop;
    return loop;
}

uint64_t TEventLoop::Add(int fd, uint32_t events, IoHandler handler) {
    uint64_t token = nextToken_++;
    if (!backend_.Watch(fd, events, token)) return 0;
    watches_[token] = std::make_shared<Watch>(Watch{fd, std::move(handler)});
    return token;
}

void TEventLoop::Modify(uint64_t token, uint32_t events) {
    auto it = watches_.find(token);
    if (it == watches_.end()) return;
    backend_.Change(it->second->fd, events, token);
}

void TEventLoop::Remove(uint64_t token) {
    auto it = watches_.find(token);
    if (it == watches_.end()) return;
    backend_.Unwatch(it->second->fd);
    watches_.erase(it);
}

void TEventLoop::Post(std::function<void()> fn) {
    posted_.push_back(std::move(fn));
    // Run() looks at the queue before it waits; anyone else waits on the descriptor.
    if (!selfDriven_) backend_.Wake();
}

void TEventLoop::Post(std::weak_ptr<void> guard, std::function<void()> fn) {
    Post([guard = std::move(guard), fn = std::move(fn)] {
        if (!guard.expired()) fn();
    });
}

int TEventLoop::RunPosted() {
    // Only the calls posted before this point run now; calls they post wait for the
    // next round, so a call that keeps posting cannot starve the descriptors.
    size_t n = posted_.size();
    int ran = 0;
    for (size_t i = 0; i < n && !posted_.empty(); ++i) {
        auto fn = std::move(posted_.front());
        posted_.pop_front();
        fn();
        ++ran;
    }
    return ran;
}

int TEventLoop::RunOnce(int timeoutMs) {
    const bool outer = selfDriven_;
    selfDriven_ = false;
    int ran = RunRound(timeoutMs);
    selfDriven_ = outer;
    if (!posted_.empty()) backend_.Wake();
    return ran;
}

int TEventLoop::RunRound(int timeoutMs) {
    if (!posted_.empty()) timeoutMs = 0;
    TLoopBackend::TReady ready[TLoopBackend::kMaxReady];
    int n = backend_.Wait(ready, timeoutMs);
    int ran = 0;
    for (int i = 0; i < n; ++i) {
        // An earlier handler of this batch may have removed this watch; the shared
        // pointer keeps the handler alive while it runs even if it removes itself.
        auto it = watches_.find(ready[i].Token);
        if (it == watches_.end()) continue;
        auto watch = it->second;
        watch->handler(ready[i].Events);
        ++ran;
    }
    ran += RunPosted();
    return ran;
}

void TEventLoop::Run() {
    quit_ = false;
    selfDriven_ = true;
    struct TReset {
        bool& flag;
        ~TReset() { flag = false; }
    } reset{selfDriven_};
    while (!quit_) RunRound(-1);
}

// The timer's descriptor comes with the timer (its source): starting it later needs no
// new descriptor, so a timer still works when the process has run out of them.
TLoopTimer::TLoopTimer(TEventLoop& loop) : loop_(loop) {}

TLoopTimer::~TLoopTimer() {
    Stop();
}

void TLoopTimer::Start(unsigned intervalMs) {
    Stop();
    source_.Arm(intervalMs);
    interval_ = intervalMs;
    enabled_ = true;
    token_ = loop_.Add(source_.Fd(), ioRead, [this](uint32_t) {
        if (!source_.Take()) return;
        if (OnTimer) OnTimer();
    });
}

void TLoopTimer::Stop() {
    if (!enabled_) return;
    loop_.Remove(token_);
    source_.Disarm();
    token_ = 0;
    enabled_ = false;
}

namespace {
uint64_t tickShift = 0;
} // namespace

uint64_t TickCount() {
    return (MonotonicMs() + tickShift) & 0xFFFFFFFFu;
}

uint64_t TicksSince(uint64_t tick) {
    return (TickCount() - tick) & 0xFFFFFFFFu;
}

void ShiftTickCount(uint64_t ms) {
    tickShift += ms;
}

} // namespace nubo
