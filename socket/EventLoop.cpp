#include "socket/EventLoop.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace nubo {

namespace {
constexpr uint64_t kWakeToken = 0;

[[noreturn]] void Fatal(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}
} // namespace

TEventLoop::TEventLoop() {
    epfd_ = epoll_create1(EPOLL_CLOEXEC);
    if (epfd_ < 0) Fatal("epoll_create1");
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) Fatal("eventfd");
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = kWakeToken;
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, wakeFd_, &ev) < 0) Fatal("epoll_ctl");
}

TEventLoop::~TEventLoop() {
    close(wakeFd_);
    close(epfd_);
}

TEventLoop& TEventLoop::Current() {
    thread_local TEventLoop loop;
    return loop;
}

uint64_t TEventLoop::Add(int fd, uint32_t events, IoHandler handler) {
    uint64_t token = nextToken_++;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = token;
    if (epoll_ctl(epfd_, EPOLL_CTL_ADD, fd, &ev) < 0) return 0;
    watches_[token] = std::make_shared<Watch>(Watch{fd, std::move(handler)});
    return token;
}

void TEventLoop::Modify(uint64_t token, uint32_t events) {
    auto it = watches_.find(token);
    if (it == watches_.end()) return;
    epoll_event ev{};
    ev.events = events;
    ev.data.u64 = token;
    epoll_ctl(epfd_, EPOLL_CTL_MOD, it->second->fd, &ev);
}

void TEventLoop::Remove(uint64_t token) {
    auto it = watches_.find(token);
    if (it == watches_.end()) return;
    // The descriptor may already be closed by its owner; EBADF is harmless here.
    epoll_ctl(epfd_, EPOLL_CTL_DEL, it->second->fd, nullptr);
    watches_.erase(it);
}

void TEventLoop::WakeUp() {
    if (woken_) return;
    uint64_t one = 1;
    if (write(wakeFd_, &one, sizeof one) == sizeof one) woken_ = true;
}

void TEventLoop::Post(std::function<void()> fn) {
    posted_.push_back(std::move(fn));
    // Run() looks at the queue before it waits; anyone else waits on the descriptor.
    if (!selfDriven_) WakeUp();
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
    if (!posted_.empty()) WakeUp();
    return ran;
}

int TEventLoop::RunRound(int timeoutMs) {
    if (!posted_.empty()) timeoutMs = 0;
    epoll_event events[64];
    int n = epoll_wait(epfd_, events, 64, timeoutMs);
    if (n < 0 && errno != EINTR) Fatal("epoll_wait");
    int ran = 0;
    for (int i = 0; i < n; ++i) {
        uint64_t token = events[i].data.u64;
        if (token == kWakeToken) {
            uint64_t v; // one read takes the whole count
            (void)!read(wakeFd_, &v, sizeof v);
            woken_ = false;
            continue;
        }
        // An earlier handler of this batch may have removed this watch; the shared
        // pointer keeps the handler alive while it runs even if it removes itself.
        auto it = watches_.find(token);
        if (it == watches_.end()) continue;
        auto watch = it->second;
        watch->handler(events[i].events);
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

// The timer's descriptor is made once, with the timer: starting it later needs no new
// descriptor, so a timer still works when the process has run out of them.
TLoopTimer::TLoopTimer(TEventLoop& loop) : loop_(loop) {
    fd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (fd_ < 0) Fatal("timerfd_create");
}

TLoopTimer::~TLoopTimer() {
    Stop();
    close(fd_);
}

void TLoopTimer::Start(unsigned intervalMs) {
    Stop();
    itimerspec spec{};
    spec.it_interval.tv_sec = intervalMs / 1000;
    spec.it_interval.tv_nsec = long(intervalMs % 1000) * 1000000L;
    spec.it_value = spec.it_interval;
    if (intervalMs == 0) spec.it_value.tv_nsec = 1;
    timerfd_settime(fd_, 0, &spec, nullptr);
    interval_ = intervalMs;
    enabled_ = true;
    token_ = loop_.Add(fd_, EPOLLIN, [this](uint32_t) {
        uint64_t expirations;
        if (read(fd_, &expirations, sizeof expirations) <= 0) return;
        if (OnTimer) OnTimer();
    });
}

void TLoopTimer::Stop() {
    if (!enabled_) return;
    loop_.Remove(token_);
    const itimerspec off{};
    timerfd_settime(fd_, 0, &off, nullptr); // also drops expirations not yet read
    token_ = 0;
    enabled_ = false;
}

namespace {
uint64_t tickShift = 0;
} // namespace

uint64_t TickCount() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
    return (ms + tickShift) & 0xFFFFFFFFu;
}

uint64_t TicksSince(uint64_t tick) { return (TickCount() - tick) & 0xFFFFFFFFu; }

void ShiftTickCount(uint64_t ms) { tickShift += ms; }

} // namespace nubo
