#include "host/LoginCache.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <algorithm>
#include <stdexcept>

#include "platform/Text.h"

namespace nubo {

TLoginCache::TLoginCache(size_t capacity, TClock::duration lifetime) : capacity_(capacity), lifetime_(lifetime) {
    if (RAND_bytes(secret_, sizeof secret_) != 1) throw std::runtime_error("no random bytes for the login cache");
}

std::string TLoginCache::Key(std::string_view account, std::string_view stored, std::string_view password) const {
    // Account names match without regard to case; the parts cannot hold a NUL, so the
    // joined text names one triple only.
    std::string text = UpperCase(std::string(account));
    text += '\0';
    text += stored;
    text += '\0';
    text += password;
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned len = 0;
    if (!HMAC(EVP_sha256(), secret_, sizeof secret_, reinterpret_cast<const unsigned char*>(text.data()), text.size(),
              mac, &len))
        return {};
    std::fill(text.begin(), text.end(), '\0');
    return std::string(reinterpret_cast<const char*>(mac), len);
}

void TLoginCache::Prune(TClock::time_point now) {
    while (!order_.empty() &&
           (order_.front().second <= now || expiry_.size() > capacity_ || order_.size() > 2 * capacity_)) {
        auto it = expiry_.find(order_.front().first);
        // A key added again later has a later expiry: only its own entry removes it.
        if (it != expiry_.end() && it->second == order_.front().second) expiry_.erase(it);
        order_.pop_front();
    }
}

bool TLoginCache::Has(std::string_view account, std::string_view stored, std::string_view password,
                      TClock::time_point now) {
    Prune(now);
    const std::string key = Key(account, stored, password);
    auto it = expiry_.find(key);
    if (key.empty() || it == expiry_.end() || it->second <= now) return false;
    // An account in use stays remembered: a client that logs in every few minutes
    // never pays for the slow check again.
    it->second = now + lifetime_;
    order_.emplace_back(key, it->second);
    Prune(now);
    return true;
}

void TLoginCache::Add(std::string_view account, std::string_view stored, std::string_view password,
                      TClock::time_point now) {
    if (capacity_ == 0) return;
    const std::string key = Key(account, stored, password);
    if (key.empty()) return;
    const auto until = now + lifetime_;
    expiry_[key] = until;
    order_.emplace_back(key, until);
    Prune(now);
}

} // namespace nubo
