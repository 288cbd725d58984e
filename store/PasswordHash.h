#pragma once
// Stored passwords: "$pbkdf2-sha256$<iterations>$<salt>$<hash>" (PBKDF2-HMAC-SHA256,
// standard base64 with padding), or plain text as older files hold it. The value names
// its own parameters, so that the work factor can be raised without breaking old values.
// Making and checking a hash is slow on purpose: callers on the event loop hand it to a
// worker thread. Everything here is safe to call from any thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nubo {

inline constexpr std::string_view kPbkdf2Scheme = "pbkdf2-sha256";
inline constexpr uint32_t kPasswordIterations = 600'000;
// A stored value above this would let a file stall a worker for minutes.
inline constexpr uint32_t kMaxPasswordIterations = 10'000'000;
inline constexpr size_t kPasswordSaltBytes = 16;
inline constexpr size_t kPasswordHashBytes = 32;
// Longer passwords are refused before any hashing: they are not typed by people, and
// would make the guesser's work cheap and ours dear.
inline constexpr size_t kMaxPasswordLength = 1024;

enum class TStoredKind { Plain, Hashed, Malformed };

struct TPasswordHash {
    uint32_t Iterations = 0;
    std::vector<unsigned char> Salt;
    std::vector<unsigned char> Hash;
};

// Whether a stored value is plain text, a hash we can check, or a value that looks like a
// hash ("$scheme$...") but cannot be used: truncated, unknown scheme, bad numbers or base64.
// A plain password that itself has the form "$word$..." is read as a hash.
TStoredKind StoredKind(std::string_view stored);
// The parts of a hashed value; nothing when it is not a well-formed one.
std::optional<TPasswordHash> ParsePasswordHash(std::string_view stored);

// A new value with a fresh random salt. Throws std::runtime_error when the library fails.
std::string MakePasswordHash(std::string_view password, uint32_t iterations = kPasswordIterations);
// Recomputes the hash and compares it in constant time.
bool VerifyPasswordHash(std::string_view password, const TPasswordHash& stored);
// Constant-time comparison of two strings of possibly different lengths (the length
// itself is not hidden).
bool SamePassword(std::string_view a, std::string_view b);

std::string Base64Encode(const unsigned char* data, size_t len);
// Strict: standard alphabet, length a multiple of four, "=" only as the final padding.
std::optional<std::vector<unsigned char>> Base64Decode(std::string_view text);

} // namespace nubo
