// The loop's backend on Linux: epoll, an eventfd for wake-ups, timerfd timers.
#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "socket/EventLoop.h"
#include "socket/LoopBackend.h"

namespace nubo {

namespace {

// Tokens count from 1 (TEventLoop), so 0 is free for the wake-up descriptor.
constexpr uint64_t kWakeToken = 0;

[[noreturn]] void Fatal(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

uint32_t ToEpoll(uint32_t events) {
    uint32_t ev = 0;
    if (events & ioRead) ev |= EPOLLIN;
    if (events & ioWrite) ev |= EPOLLOUT;
    if (events & ioPeerClosed) ev |= EPOLLRDHUP;
    return ev; // hang-up and error are always reported
}

uint32_t FromEpoll(uint32_t ev) {
    uint32_t events = 0;
    if (ev & EPOLLIN) events |= ioRead;
    if (ev & EPOLLOUT) events |= ioWrite;
    if (ev & EPOLLRDHUP) events |= ioPeerClosed;
    if (ev & EPOLLHUP) events |= ioHangUp;
    if (ev & EPOLLERR) events |= ioError;
    return events;
}

int Control(int poll, int op, int fd, uint32_t events, uint64_t token) {
    epoll_event ev{};
    ev.events = ToEpoll(events);
    ev.data.u64 = token;
    return epoll_ctl(poll, op, fd, &ev);
}

} // namespace

TLoopBackend::TLoopBackend() {
    poll_.Reset(epoll_create1(EPOLL_CLOEXEC));
    if (!poll_) Fatal("epoll_create1");
    wake_.Reset(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_) Fatal("eventfd");
    if (Control(poll_.Get(), EPOLL_CTL_ADD, wake_.Get(), ioRead, kWakeToken) < 0) Fatal("epoll_ctl");
}

bool TLoopBackend::Watch(int fd, uint32_t events, uint64_t token) {
    return Control(poll_.Get(), EPOLL_CTL_ADD, fd, events, token) == 0;
}

void TLoopBackend::Change(int fd, uint32_t events, uint64_t token) {
    Control(poll_.Get(), EPOLL_CTL_MOD, fd, events, token);
}

void TLoopBackend::Unwatch(int fd) {
    // EBADF when the owner closed the descriptor first: harmless, it left the set then.
    epoll_ctl(poll_.Get(), EPOLL_CTL_DEL, fd, nullptr);
}

int TLoopBackend::Wait(TReady (&ready)[kMaxReady], int timeoutMs) {
    epoll_event events[kMaxReady];
    int n = epoll_wait(poll_.Get(), events, kMaxReady, timeoutMs);
    if (n < 0 && errno != EINTR) Fatal("epoll_wait");
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (events[i].data.u64 == kWakeToken) {
            uint64_t v; // one read takes the whole count
            (void)!read(wake_.Get(), &v, sizeof v);
            woken_ = false;
            continue;
        }
        ready[count++] = TReady{events[i].data.u64, FromEpoll(events[i].events)};
    }
    return count;
}

void TLoopBackend::Wake() {
    if (woken_) return;
    uint64_t one = 1;
    if (write(wake_.Get(), &one, sizeof one) == sizeof one) woken_ = true;
}

TTimerSource::TTimerSource() {
    fd_.Reset(timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC));
    if (!fd_) Fatal("timerfd_create");
}

void TTimerSource::Arm(unsigned intervalMs) {
    itimerspec spec{};
    spec.it_interval.tv_sec = intervalMs / 1000;
    spec.it_interval.tv_nsec = long(intervalMs % 1000) * 1000000L;
    spec.it_value = spec.it_interval;
    if (intervalMs == 0) spec.it_value.tv_nsec = 1;
    timerfd_settime(fd_.Get(), 0, &spec, nullptr);
}

void TTimerSource::Disarm() {
    const itimerspec off{};
    timerfd_settime(fd_.Get(), 0, &off, nullptr);
}

bool TTimerSource::Take() {
    uint64_t expirations;
    return read(fd_.Get(), &expirations, sizeof expirations) > 0;
}

uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

} // namespace nubo
