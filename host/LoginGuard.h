#pragma once
// Failed logins counted per client address, and the bans they earn. An address that
// fails Failures times within Window (counted from its first failure; the count starts
// afresh once that window has passed) is banned for BanTime. A successful login does not
// clear the count, so a guesser who owns one account cannot reset it. Both tables are
// bounded: when one is full, the entry closest to its expiry makes room. Expired entries
// go lazily and through Sweep(). Knows nothing of sockets; the clock is given by the
// caller. Loop thread only.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace nubo {

struct TLoginGuardLimits {
    int64_t Failures = 5; // failures that earn a ban; 0: no bans
    std::chrono::seconds Window{600};
    std::chrono::seconds BanTime{3600};
    bool BanLoopback = false; // 127.0.0.0/8 and ::1 are never banned unless set
};

class TLoginGuard {
public:
    using TClock = std::chrono::steady_clock;
    struct TBan {
        std::string Address;
        TClock::time_point Ends;
        int64_t Failures = 0; // the failures that earned the ban
    };

    explicit TLoginGuard(size_t capacity = 10'000);

    // Bans already made keep their end; with Failures 0 they are all lifted.
    void SetLimits(const TLoginGuardLimits& limits);
    const TLoginGuardLimits& Limits() const { return limits_; }

    // A failed login from address. True when this failure starts a ban.
    bool Failed(const std::string& address, TClock::time_point now = TClock::now());
    bool Banned(const std::string& address, TClock::time_point now = TClock::now());
    // Ends a ban now; false when the address was not banned.
    bool Lift(const std::string& address);
    // Drops what has expired; true when a ban ended.
    bool Sweep(TClock::time_point now = TClock::now());
    // The bans in force, the soonest to end first.
    std::vector<TBan> Bans(TClock::time_point now = TClock::now()) const;
    size_t CounterCount() const { return counters_.Size(); }
    size_t BanCount() const { return bans_.Size(); }

    static bool IsLoopback(std::string_view address);

private:
    // Entries by address, also ordered by expiry so that the first to expire is found
    // at once.
    class TExpiring {
    public:
        struct TEntry {
            int64_t Count = 0;
            TClock::time_point Expires;
        };
        explicit TExpiring(size_t capacity) : capacity_(capacity) {}
        TEntry* Find(const std::string& address);
        // Adds or replaces; the entry nearest to its expiry goes when full.
        void Put(const std::string& address, TEntry entry);
        bool Erase(const std::string& address);
        // Removes what expired by now; the number removed.
        size_t Expire(TClock::time_point now);
        void Clear();
        size_t Size() const { return byAddress_.size(); }
        const std::unordered_map<std::string,
                                 std::pair<TEntry, std::multimap<TClock::time_point, std::string>::iterator>>&
        All() const {
            return byAddress_;
        }

    private:
        using TOrder = std::multimap<TClock::time_point, std::string>;
        size_t capacity_;
        std::unordered_map<std::string, std::pair<TEntry, TOrder::iterator>> byAddress_;
        TOrder byExpiry_;
    };

    bool Exempt(const std::string& address) const { return !limits_.BanLoopback && IsLoopback(address); }

    TLoginGuardLimits limits_;
    TExpiring counters_, bans_;
};

} // namespace nubo
