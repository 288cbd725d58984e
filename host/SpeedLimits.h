#pragma once
// The accounts' speed limits: one gate per account and direction, shared by every
// session of the account, so that the limit caps the sum of their transfers. A gate
// lives as long as a session holds it; an account without a limit gets none.

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "engine/RateGate.h"
#include "socket/EventLoop.h"

namespace nubo {

enum class TSpeedDirection { Download, Upload };

class TSpeedLimits {
public:
    explicit TSpeedLimits(TEventLoop& loop) : loop_(loop) {}

    // The gate of an account's limit in KB/s (1 KB = 1024 bytes; 0 or less: none). A
    // limit changed in the account file applies from the next login on to all the
    // sessions that share the gate.
    std::shared_ptr<TRateGate> Gate(const std::string& account, TSpeedDirection direction, int64_t kbPerSecond);

    // 4 TiB/s: far above any link, low enough that bytes per second stay in range.
    static constexpr int64_t kMaxKbPerSecond = int64_t(1) << 32;

private:
    TEventLoop& loop_;
    std::map<std::string, std::weak_ptr<TRateGate>> gates_; // by upper-cased account and direction
};

} // namespace nubo
