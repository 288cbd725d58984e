#include "store/PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace nubo {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::vector<std::string_view> SplitDollar(std::string_view s) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        size_t d = s.find('$', start);
        parts.push_back(s.substr(start, d == std::string_view::npos ? std::string_view::npos : d - start));
        if (d == std::string_view::npos) return parts;
        start = d + 1;
    }
}

bool SchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
}

std::optional<uint32_t> ParseIterations(std::string_view s) {
    // Digits only, no sign, no leading zero: one spelling per number.
    if (s.empty() || s.size() > 8 || s[0] == '0') return std::nullopt;
    uint32_t n = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        n = n * 10 + uint32_t(c - '0');
    }
    if (n == 0 || n > kMaxPasswordIterations) return std::nullopt;
    return n;
}

std::vector<unsigned char> Derive(std::string_view password, const std::vector<unsigned char>& salt,
                                  uint32_t iterations) {
    std::vector<unsigned char> out(kPasswordHashBytes);
    if (PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), salt.data(), int(salt.size()), int(iterations),
                          EVP_sha256(), int(out.size()), out.data()) != 1)
        throw std::runtime_error("PBKDF2 failed");
    return out;
}

} // namespace

std::string Base64Encode(const unsigned char* data, size_t len) {
    std::string out;
    out.reserve((len + 2) / 3 * 4);
    for (size_t i = 0; i < len; i += 3) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (i + 1 < len) v |= uint32_t(data[i + 1]) << 8;
        if (i + 2 < len) v |= data[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += i + 1 < len ? kAlphabet[(v >> 6) & 63] : '=';
        out += i + 2 < len ? kAlphabet[v & 63] : '=';
    }
    return out;
}

std::optional<std::vector<unsigned char>> Base64Decode(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return std::nullopt;
    size_t pad = 0;
    if (text.back() == '=') pad = text[text.size() - 2] == '=' ? 2 : 1;
    std::vector<unsigned char> out;
    out.reserve(text.size() / 4 * 3);
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int s[4];
        for (size_t k = 0; k < 4; ++k) {
            const bool padded = last && k >= 4 - pad;
            s[k] = padded ? 0 : Sextet(text[i + k]);
            if (s[k] < 0) return std::nullopt;
        }
        const uint32_t v = uint32_t(s[0]) << 18 | uint32_t(s[1]) << 12 | uint32_t(s[2]) << 6 | uint32_t(s[3]);
        out.push_back(static_cast<unsigned char>(v >> 16));
        if (!(last && pad == 2)) out.push_back(static_cast<unsigned char>(v >> 8));
        if (!(last && pad >= 1)) out.push_back(static_cast<unsigned char>(v));
        // Bits below the padding must be zero, so that one value has one spelling.
        if (last && pad && (v & (pad == 2 ? 0xFFFFu : 0xFFu)) != 0) return std::nullopt;
    }
    return out;
}

TStoredKind StoredKind(std::string_view stored) {
    if (stored.empty() || stored[0] != '$') return TStoredKind::Plain;
    size_t end = 1;
    while (end < stored.size() && SchemeChar(stored[end])) ++end;
    // "$" + a scheme name + "$", or our own scheme's name cut short after "$pbkdf2".
    const bool hashShaped = (end > 1 && end < stored.size() && stored[end] == '$') ||
                            (end == stored.size() && end >= 7 && kPbkdf2Scheme.starts_with(stored.substr(1)));
    if (!hashShaped) return TStoredKind::Plain;
    return ParsePasswordHash(stored) ? TStoredKind::Hashed : TStoredKind::Malformed;
}

std::optional<TPasswordHash> ParsePasswordHash(std::string_view stored) {
    const auto parts = SplitDollar(stored);
    if (parts.size() != 5 || !parts[0].empty() || parts[1] != kPbkdf2Scheme) return std::nullopt;
    auto iterations = ParseIterations(parts[2]);
    auto salt = Base64Decode(parts[3]);
    auto hash = Base64Decode(parts[4]);
    if (!iterations || !salt || !hash) return std::nullopt;
    if (salt->size() < 8 || salt->size() > 64 || hash->size() != kPasswordHashBytes) return std::nullopt;
    return TPasswordHash{*iterations, std::move(*salt), std::move(*hash)};
}

std::string MakePasswordHash(std::string_view password, uint32_t iterations) {
    std::vector<unsigned char> salt(kPasswordSaltBytes);
    if (RAND_bytes(salt.data(), int(salt.size())) != 1) throw std::runtime_error("no random bytes for a salt");
    const auto hash = Derive(password, salt, iterations);
    return "$" + std::string(kPbkdf2Scheme) + "$" + std::to_string(iterations) + "$" +
           Base64Encode(salt.data(), salt.size()) + "$" + Base64Encode(hash.data(), hash.size());
}

bool VerifyPasswordHash(std::string_view password, const TPasswordHash& stored) {
    if (stored.Hash.size() != kPasswordHashBytes) return false;
    const auto hash = Derive(password, stored.Salt, stored.Iterations);
    return CRYPTO_memcmp(hash.data(), stored.Hash.data(), hash.size()) == 0;
}

bool SamePassword(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    return a.empty() || CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

} // namespace nubo
