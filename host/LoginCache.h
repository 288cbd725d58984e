#pragma once
// Recent successful checks of hashed passwords, so that a client that logs in again and
// again pays for one slow hash, not one per login. An entry is a keyed hash (HMAC-SHA256
// with a secret made at start) of the account, its stored value and the password: the
// password itself is never kept, and a changed stored value misses. Entries expire when
// unused for their lifetime, and the oldest go first when the cache is full. Loop thread only.

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace nubo {

class TLoginCache {
public:
    using TClock = std::chrono::steady_clock;
    explicit TLoginCache(size_t capacity = 1024, TClock::duration lifetime = std::chrono::minutes(10));

    bool Has(std::string_view account, std::string_view stored, std::string_view password,
             TClock::time_point now = TClock::now());
    void Add(std::string_view account, std::string_view stored, std::string_view password,
             TClock::time_point now = TClock::now());
    size_t Size() const { return expiry_.size(); }
    // The keyed hash that names a triple (empty if the library failed).
    std::string Key(std::string_view account, std::string_view stored, std::string_view password) const;

private:
    void Prune(TClock::time_point now);

    size_t capacity_;
    TClock::duration lifetime_;
    unsigned char secret_[32];
    std::unordered_map<std::string, TClock::time_point> expiry_;
    // Keys in the order they were added (each with its expiry), for expiry and eviction.
    std::deque<std::pair<std::string, TClock::time_point>> order_;
};

} // namespace nubo
