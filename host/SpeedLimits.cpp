#include "host/SpeedLimits.h"

#include <algorithm>

#include "platform/Text.h"

namespace nubo {

std::shared_ptr<TRateGate> TSpeedLimits::Gate(const std::string& account, TSpeedDirection direction,
                                              int64_t kbPerSecond) {
    std::erase_if(gates_, [](const auto& entry) { return entry.second.expired(); });
    if (kbPerSecond <= 0) return nullptr;
    const int64_t rate = std::min(kbPerSecond, kMaxKbPerSecond) * 1024;
    const std::string key = UpperCase(account) + (direction == TSpeedDirection::Upload ? "\nU" : "\nD");
    if (std::shared_ptr<TRateGate> gate = gates_[key].lock()) {
        if (gate->Rate() != rate) gate->SetRate(rate);
        return gate;
    }
    auto gate = std::make_shared<TRateGate>(rate, loop_);
    gates_[key] = gate;
    return gate;
}

} // namespace nubo
