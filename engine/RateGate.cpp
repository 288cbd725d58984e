#include "engine/RateGate.h"

#include <algorithm>
#include <climits>

namespace nubo {

void TRateWaiter::Join(std::shared_ptr<TRateGate> gate) {
    if (gate == gate_) return;
    Leave();
    gate_ = std::move(gate);
}

void TRateWaiter::Leave() {
    if (!gate_) return;
    if (queued_) gate_->Remove(*this);
    gate_->tokens_ += allowance_; // what was granted but never moved goes back
    allowance_ = 0;
    gate_.reset();
}

int64_t TRateWaiter::Allowed(int64_t max) {
    if (!gate_) return max;
    if (queued_) return 0;
    if (allowance_ <= 0 && !gate_->TryGrant(*this)) {
        gate_->Enqueue(*this);
        return 0;
    }
    return std::min(allowance_, max);
}

TRateGate::TRateGate(int64_t bytesPerSecond, TEventLoop& loop) : last_(TClock::now()), timer_(loop) {
    timer_.OnTimer = [this] { Serve(); };
    SetRate(bytesPerSecond);
    tokens_ = slice_; // the first piece goes at once
}

void TRateGate::SetRate(int64_t bytesPerSecond) {
    Refill();
    rate_ = std::max<int64_t>(bytesPerSecond, 1);
    slice_ = std::clamp<int64_t>(rate_ * 2 * kTickMs / 1000, kMinSlice, kMaxSlice);
    // A tenth of a second of saved-up tokens at most: a transfer that starts after a
    // pause gets a short head start, never a burst that would show in the rate.
    burst_ = std::max<int64_t>(rate_ / 10, 2 * slice_);
}

// Tokens from the time passed, exactly: the remainder below one byte is carried over, so
// that thousands of small refills add up to the rate. While transfers wait, every token
// is theirs: a timer that comes late on a busy machine must not lower the rate. Only
// when nobody waits is the saving capped.
void TRateGate::Refill() {
    const TClock::time_point now = TClock::now();
    const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_).count();
    last_ = now;
    if (ns <= 0 || rate_ <= 0) return;
    // Beyond two seconds the bucket is full anyway; the cap keeps the product in range.
    const unsigned __int128 product =
        (unsigned __int128)std::min<int64_t>(ns, 2'000'000'000) * uint64_t(rate_) + uint64_t(nanoCredit_);
    nanoCredit_ = int64_t(product % 1'000'000'000u);
    const int64_t added = int64_t(product / 1'000'000'000u);
    const int64_t cap = queue_.empty() ? std::max(burst_, tokens_) : INT64_MAX;
    tokens_ = std::min(tokens_ + added, cap);
}

bool TRateGate::TryGrant(TRateWaiter& w) {
    Refill();
    if (!queue_.empty() || tokens_ <= 0) return false;
    tokens_ -= slice_;
    w.allowance_ += slice_;
    return true;
}

void TRateGate::Enqueue(TRateWaiter& w) {
    queue_.push_back(&w);
    w.queued_ = true;
    if (!timer_.Enabled()) timer_.Start(kTickMs);
}

void TRateGate::Remove(TRateWaiter& w) {
    std::erase(queue_, &w);
    w.queued_ = false;
    if (queue_.empty()) timer_.Stop();
}

// One tick: the waiters at the front get a slice each while tokens last; a slice is given
// whole even when it takes the bucket below zero, and the debt is paid by later ticks.
void TRateGate::Serve() {
    const std::shared_ptr<TRateGate> self = weak_from_this().lock(); // a grant may drop the last owner
    Refill();
    while (tokens_ > 0 && !queue_.empty()) {
        TRateWaiter* w = queue_.front();
        queue_.pop_front();
        w->queued_ = false;
        tokens_ -= slice_;
        w->allowance_ += slice_;
        if (w->OnGrant) w->OnGrant();
    }
    if (queue_.empty()) timer_.Stop();
}

} // namespace nubo
