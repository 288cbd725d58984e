#pragma once
// What the event loop needs from the operating system, and nothing more: a readiness
// poller with one pollable descriptor and a wake-up, periodic timers that are
// descriptors of their own, and a monotonic clock. EpollBackend.cpp implements it for
// Linux; another system replaces that one file. Internal to socket/: callers use
// TEventLoop and TLoopTimer.
//
// Readiness masks here are the loop's own bits (TIoEvent in EventLoop.h).

#include <cstdint>

#include "platform/UniqueFd.h"

namespace nubo {

class TLoopBackend {
public:
    struct TReady {
        uint64_t Token;
        uint32_t Events;
    };
    static constexpr int kMaxReady = 64;

    // Throws std::runtime_error when the system refuses the poller.
    TLoopBackend();
    TLoopBackend(const TLoopBackend&) = delete;
    TLoopBackend& operator=(const TLoopBackend&) = delete;

    // Readable while a watched descriptor is ready or a wake-up is pending.
    int Fd() const { return poll_.Get(); }
    // False when the system refuses the descriptor.
    bool Watch(int fd, uint32_t events, uint64_t token);
    void Change(int fd, uint32_t events, uint64_t token);
    // The descriptor may already be closed by its owner.
    void Unwatch(int fd);
    // Waits at most timeoutMs (-1: without limit) and fills ready; returns how many.
    // A wake-up is taken here and never reported; an interrupted wait reports nothing.
    int Wait(TReady (&ready)[kMaxReady], int timeoutMs);
    // Makes the next Wait return at once (and Fd() readable until then).
    void Wake();

private:
    TUniqueFd poll_;
    TUniqueFd wake_;
    bool woken_ = false;
};

// A periodic timer as a descriptor that is readable when it expired. The descriptor is
// made with the object, so arming it later needs none.
class TTimerSource {
public:
    TTimerSource(); // throws std::runtime_error
    int Fd() const { return fd_.Get(); }
    // Every intervalMs from now; 0 expires once, at once.
    void Arm(unsigned intervalMs);
    // Also drops expirations not yet taken.
    void Disarm();
    // Takes the pending expirations; false when there were none.
    bool Take();

private:
    TUniqueFd fd_;
};

// Milliseconds of a monotonic clock, from an arbitrary start.
uint64_t MonotonicMs();

} // namespace nubo
