#include "store/PasswordHash.h"

#include <gtest/gtest.h>

namespace nubo {
namespace {

// Made by another implementation of PBKDF2 (Python's hashlib) for "secret".
constexpr const char* kKnown =
    "$pbkdf2-sha256$1000$AAECAwQFBgcICQoLDA0ODw==$Tvsru20utY6o3q7VRBeuL9h/1QqKhWhwk2PaYNRWBgY=";

TEST(PasswordHash, ChecksAValueMadeElsewhere) {
    ASSERT_EQ(StoredKind(kKnown), TStoredKind::Hashed);
    const auto parsed = ParsePasswordHash(kKnown);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->Iterations, 1000u);
    EXPECT_TRUE(VerifyPasswordHash("secret", *parsed));
    EXPECT_FALSE(VerifyPasswordHash("Secret", *parsed));
    EXPECT_FALSE(VerifyPasswordHash("", *parsed));
}

TEST(PasswordHash, MadeValuesAreSaltedAndCheckBack) {
    const std::string a = MakePasswordHash("pa ss", 1000), b = MakePasswordHash("pa ss", 1000);
    EXPECT_NE(a, b); // fresh salt each time
    EXPECT_TRUE(a.starts_with("$pbkdf2-sha256$1000$"));
    for (const auto& v : {a, b}) {
        const auto parsed = ParsePasswordHash(v);
        ASSERT_TRUE(parsed) << v;
        EXPECT_EQ(parsed->Salt.size(), kPasswordSaltBytes);
        EXPECT_TRUE(VerifyPasswordHash("pa ss", *parsed));
        EXPECT_FALSE(VerifyPasswordHash("pa s", *parsed));
    }
    // The default work factor is what new values carry.
    EXPECT_TRUE(MakePasswordHash("x").starts_with("$pbkdf2-sha256$600000$"));
}

TEST(PasswordHash, StoredKinds) {
    const std::string salt = "AAECAwQFBgcICQoLDA0ODw==", hash = "Tvsru20utY6o3q7VRBeuL9h/1QqKhWhwk2PaYNRWBgY=";
    const struct {
        std::string stored;
        TStoredKind kind;
    } cases[] = {
        {"", TStoredKind::Plain},
        {"secret", TStoredKind::Plain},
        {"$ecret", TStoredKind::Plain},
        {"a$b$c", TStoredKind::Plain},
        {"$$", TStoredKind::Plain},
        {"$Upper$x", TStoredKind::Plain},
        {kKnown, TStoredKind::Hashed},
        {"$pbkdf2-sha256$10000000$" + salt + "$" + hash, TStoredKind::Hashed},
        // truncated
        {"$pbkdf2", TStoredKind::Malformed},
        {"$pbkdf2-sha256", TStoredKind::Malformed},
        {"$pbkdf2-sha256$", TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000", TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$" + salt, TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$" + salt + "$", TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$" + salt + "$" + hash.substr(0, 40), TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$" + salt + "$" + hash + "$", TStoredKind::Malformed},
        // unknown scheme
        {"$scrypt$1000$" + salt + "$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha512$1000$" + salt + "$" + hash, TStoredKind::Malformed},
        {"$2b$12$abcdefghijklmnopqrstuv", TStoredKind::Malformed},
        // iterations: zero, absurd, not a plain number
        {"$pbkdf2-sha256$0$" + salt + "$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$10000001$" + salt + "$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$99999999999999999999$" + salt + "$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$-1000$" + salt + "$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$01000$" + salt + "$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$1e3$" + salt + "$" + hash, TStoredKind::Malformed},
        // bad base64, wrong sizes
        {"$pbkdf2-sha256$1000$AAEC*wQFBgcICQoLDA0ODw==$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$AAECAwQFBgcICQoLDA0ODw=$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$AAECAwQFBgcICQoLDA0ODx==$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$" + salt + "$" + salt, TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$AAECAw==$" + hash, TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$" + salt + "$" + hash + "AAAA", TStoredKind::Malformed},
        {"$pbkdf2-sha256$1000$" + salt + "$=" + hash.substr(1), TStoredKind::Malformed},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StoredKind(c.stored), c.kind) << c.stored;
        EXPECT_EQ(ParsePasswordHash(c.stored).has_value(), c.kind == TStoredKind::Hashed) << c.stored;
    }
}

TEST(PasswordHash, Base64RoundTripsEveryLength) {
    std::vector<unsigned char> data;
    for (int n = 0; n < 40; ++n) {
        const std::string text = Base64Encode(data.data(), data.size());
        if (n > 0) {
            const auto back = Base64Decode(text);
            ASSERT_TRUE(back) << text;
            EXPECT_EQ(*back, data);
        }
        data.push_back(static_cast<unsigned char>(n * 37 + 200));
    }
}

TEST(PasswordHash, SamePassword) {
    EXPECT_TRUE(SamePassword("", ""));
    EXPECT_TRUE(SamePassword("abc", "abc"));
    EXPECT_FALSE(SamePassword("abc", "abd"));
    EXPECT_FALSE(SamePassword("abc", "abcd"));
    EXPECT_FALSE(SamePassword("", "a"));
}

} // namespace
} // namespace nubo
