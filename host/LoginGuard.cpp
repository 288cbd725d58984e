#include "host/LoginGuard.h"

#include <arpa/inet.h>

#include <algorithm>

namespace nubo {

TLoginGuard::TExpiring::TEntry* TLoginGuard::TExpiring::Find(const std::string& address) {
    auto it = byAddress_.find(address);
    return it == byAddress_.end() ? nullptr : &it->second.first;
}

void TLoginGuard::TExpiring::Put(const std::string& address, TEntry entry) {
    auto it = byAddress_.find(address);
    if (it != byAddress_.end()) {
        byExpiry_.erase(it->second.second);
        it->second = {entry, byExpiry_.emplace(entry.Expires, address)};
        return;
    }
    if (capacity_ == 0) return;
    if (byAddress_.size() >= capacity_) {
        byAddress_.erase(byExpiry_.begin()->second);
        byExpiry_.erase(byExpiry_.begin());
    }
    byAddress_.emplace(address, std::make_pair(entry, byExpiry_.emplace(entry.Expires, address)));
}

bool TLoginGuard::TExpiring::Erase(const std::string& address) {
    auto it = byAddress_.find(address);
    if (it == byAddress_.end()) return false;
    byExpiry_.erase(it->second.second);
    byAddress_.erase(it);
    return true;
}

size_t TLoginGuard::TExpiring::Expire(TClock::time_point now) {
    size_t n = 0;
    while (!byExpiry_.empty() && byExpiry_.begin()->first <= now) {
        byAddress_.erase(byExpiry_.begin()->second);
        byExpiry_.erase(byExpiry_.begin());
        ++n;
    }
    return n;
}

void TLoginGuard::TExpiring::Clear() {
    byAddress_.clear();
    byExpiry_.clear();
}

TLoginGuard::TLoginGuard(size_t capacity) : counters_(capacity), bans_(capacity) {}

void TLoginGuard::SetLimits(const TLoginGuardLimits& limits) {
    limits_ = limits;
    if (limits_.Failures <= 0) {
        counters_.Clear();
        bans_.Clear();
    }
}

bool TLoginGuard::Failed(const std::string& address, TClock::time_point now) {
    Sweep(now);
    if (limits_.Failures <= 0 || Exempt(address) || bans_.Find(address)) return false;
    TExpiring::TEntry entry{1, now + limits_.Window};
    if (const TExpiring::TEntry* old = counters_.Find(address)) entry = {old->Count + 1, old->Expires};
    if (entry.Count < limits_.Failures) {
        counters_.Put(address, entry);
        return false;
    }
    counters_.Erase(address);
    bans_.Put(address, {entry.Count, now + limits_.BanTime});
    return true;
}

bool TLoginGuard::Banned(const std::string& address, TClock::time_point now) {
    const TExpiring::TEntry* ban = bans_.Find(address);
    if (!ban) return false;
    if (ban->Expires <= now) {
        bans_.Erase(address);
        return false;
    }
    // Loopback bans made while they were allowed end when they are no longer.
    return !Exempt(address);
}

bool TLoginGuard::Lift(const std::string& address) {
    counters_.Erase(address); // a lifted address starts with a clean count
    return bans_.Erase(address);
}

bool TLoginGuard::Sweep(TClock::time_point now) {
    counters_.Expire(now);
    return bans_.Expire(now) > 0;
}

std::vector<TLoginGuard::TBan> TLoginGuard::Bans(TClock::time_point now) const {
    std::vector<TBan> out;
    for (const auto& [address, value] : bans_.All())
        if (value.first.Expires > now && !Exempt(address))
            out.push_back({address, value.first.Expires, value.first.Count});
    std::sort(out.begin(), out.end(),
              [](const TBan& a, const TBan& b) { return a.Ends != b.Ends ? a.Ends < b.Ends : a.Address < b.Address; });
    return out;
}

bool TLoginGuard::IsLoopback(std::string_view address) {
    const std::string text(address);
    in_addr v4{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, text.c_str(), &v6) != 1) return false;
    if (IN6_IS_ADDR_LOOPBACK(&v6)) return true;
    // An IPv4 client of a dual-stack listener.
    return IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127;
}

} // namespace nubo
