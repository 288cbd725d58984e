#pragma once
// The one event loop of the process: readiness of descriptors, posted calls and
// timers. It exposes a single pollable descriptor and RunOnce(), so that an outer loop
// (the console's) can drive it; nothing here knows of sockets or FTP. The system's
// poller sits behind LoopBackend.h (EpollBackend.cpp on Linux).
//
// Must be used from the thread that created it. Handlers are never called while
// another handler of this loop runs, except when a handler itself calls runOnce().

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <unordered_map>

#include "socket/LoopBackend.h"

namespace nubo {

// Readiness of a descriptor, as bits of a mask: what Add and Modify ask for, and what
// a handler is given.
enum TIoEvent : uint32_t {
    ioRead = 1,       // bytes to read, or a connection to accept
    ioWrite = 2,      // room to write, or a connect that completed
    ioPeerClosed = 4, // the peer ended its sending; reported only when asked for
    ioHangUp = 8,     // both directions are gone; always reported
    ioError = 16,     // an error is pending on the descriptor; always reported
};

class TEventLoop {
public:
    // Receives readiness of one registered descriptor, a mask of TIoEvent bits.
    using IoHandler = std::function<void(uint32_t events)>;

    TEventLoop() = default;
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    // The loop of the calling thread, created on first use.
    static TEventLoop& Current();

    // Registration returns a token (0 when the system refuses the descriptor); events for a token that was removed are
    // dropped, even when the kernel reuses the descriptor number for a new registration.
    uint64_t Add(int fd, uint32_t events, IoHandler handler);
    void Modify(uint64_t token, uint32_t events);
    void Remove(uint64_t token);

    // Calls run in posting order, after the handler that posted them returned.
    // A call with a guard runs only while the guard's owner is still alive.
    void Post(std::function<void()> fn);
    void Post(std::weak_ptr<void> guard, std::function<void()> fn);

    // Processes what is ready, waiting at most timeoutMs (-1: until something
    // happens). Returns the number of handlers and calls run.
    int RunOnce(int timeoutMs);
    // Runs until Quit() is called.
    void Run();
    void Quit() { quit_ = true; }

    // Pollable descriptor: readable when RunOnce has something to do.
    int Fd() const { return backend_.Fd(); }
    bool HasPosted() const { return !posted_.empty(); }

private:
    struct Watch {
        int fd;
        IoHandler handler;
    };
    int RunRound(int timeoutMs);
    int RunPosted();

    TLoopBackend backend_;
    bool selfDriven_ = false; // inside Run(): posted calls need no wake-up of the descriptor
    bool quit_ = false;
    uint64_t nextToken_ = 1;
    std::unordered_map<uint64_t, std::shared_ptr<Watch>> watches_;
    std::deque<std::function<void()>> posted_;
};

// A repeating timer on the loop. Stops itself when destroyed.
class TLoopTimer {
public:
    explicit TLoopTimer(TEventLoop& loop = TEventLoop::Current());
    ~TLoopTimer();
    TLoopTimer(const TLoopTimer&) = delete;
    TLoopTimer& operator=(const TLoopTimer&) = delete;

    std::function<void()> OnTimer;
    void Start(unsigned intervalMs);
    void Stop();
    bool Enabled() const { return enabled_; }
    unsigned Interval() const { return interval_; }

private:
    TEventLoop& loop_;
    TTimerSource source_;
    uint64_t token_ = 0;
    unsigned interval_ = 0;
    bool enabled_ = false;
};

// Milliseconds of a monotonic clock, as the 32-bit tick counter of the system: it wraps
// after 49.7 days of uptime, so a duration is always taken with TicksSince().
uint64_t TickCount();
// Milliseconds from an earlier TickCount() to now, across a wrap of the counter.
uint64_t TicksSince(uint64_t tick);
// Moves the counter forward, so that tests can put it just before its wrap.
void ShiftTickCount(uint64_t ms);

} // namespace nubo
