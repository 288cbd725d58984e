#pragma once
// A shared speed limit: a token bucket on the loop's timer that several transfers draw
// from in turns. A transfer moves data only out of the allowance its waiter holds; when
// that is spent it asks again, and when the bucket is empty it is queued and told when
// its next slice is granted. Queued transfers are served in arrival order, one slice
// each, so transfers that always have data share the rate evenly.
//
// Loop thread only. The timer runs only while someone waits: an idle gate costs nothing.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "socket/EventLoop.h"

namespace nubo {

class TRateGate;

// One transfer's place at a gate. Owned by the transfer; leaving (or destruction) takes
// it out of the queue and gives an unspent allowance back to the bucket.
class TRateWaiter {
public:
    TRateWaiter() = default;
    ~TRateWaiter() { Leave(); }
    TRateWaiter(const TRateWaiter&) = delete;
    TRateWaiter& operator=(const TRateWaiter&) = delete;

    // Called from the gate's timer when a slice was granted to a queued waiter.
    std::function<void()> OnGrant;

    // Joins a gate (leaving any other); nullptr: no limit.
    void Join(std::shared_ptr<TRateGate> gate);
    void Leave();
    bool Limited() const { return gate_ != nullptr; }

    // Bytes that may move now, at most max; 0 when the waiter is queued (OnGrant follows).
    // Without a gate every byte may move.
    int64_t Allowed(int64_t max);
    // What really moved, out of what Allowed said.
    void Spend(int64_t bytes) {
        if (gate_) allowance_ -= bytes;
    }

private:
    friend class TRateGate;
    std::shared_ptr<TRateGate> gate_;
    int64_t allowance_ = 0;
    bool queued_ = false;
};

class TRateGate : public std::enable_shared_from_this<TRateGate> {
public:
    // Rate in bytes per second, above 0.
    explicit TRateGate(int64_t bytesPerSecond, TEventLoop& loop = TEventLoop::Current());
    TRateGate(const TRateGate&) = delete;
    TRateGate& operator=(const TRateGate&) = delete;

    int64_t Rate() const { return rate_; }
    void SetRate(int64_t bytesPerSecond);
    // What one grant gives: about two ticks of the rate, so that a slow limit still sends
    // small pieces often and a fast one is not held back by many tiny grants.
    int64_t Slice() const { return slice_; }

    static constexpr unsigned kTickMs = 10;
    static constexpr int64_t kMinSlice = 512;
    static constexpr int64_t kMaxSlice = 256 * 1024;

private:
    friend class TRateWaiter;
    using TClock = std::chrono::steady_clock;

    bool TryGrant(TRateWaiter& w); // at once, when nobody is ahead and tokens are left
    void Enqueue(TRateWaiter& w);
    void Remove(TRateWaiter& w);
    void Refill();
    void Serve();

    int64_t rate_ = 0;
    int64_t slice_ = 0;
    int64_t burst_ = 0;      // tokens saved at most while nobody waits
    int64_t tokens_ = 0;     // may go below 0: a slice is granted whole
    int64_t nanoCredit_ = 0; // bytes * 1e9 not yet turned into whole tokens
    TClock::time_point last_;
    std::deque<TRateWaiter*> queue_;
    TLoopTimer timer_;
};

} // namespace nubo
