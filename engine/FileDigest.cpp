#include "engine/FileDigest.h"

#include <chrono>
#include <openssl/evp.h>
#include <zlib.h>

#include "platform/Text.h"

namespace nubo {

const char* DigestName(TDigestAlgorithm algorithm) {
    switch (algorithm) {
    case TDigestAlgorithm::Sha256: return "SHA-256";
    case TDigestAlgorithm::Sha1: return "SHA-1";
    case TDigestAlgorithm::Md5: return "MD5";
    case TDigestAlgorithm::Crc32: return "CRC32";
    }
    return "";
}

bool DigestByName(const std::string& name, TDigestAlgorithm& algorithm) {
    const std::string upper = UpperCase(name);
    for (TDigestAlgorithm a : kDigestAlgorithms) {
        if (upper == DigestName(a)) {
            algorithm = a;
            return true;
        }
    }
    return false;
}

// CRC32 runs in zlib, every other algorithm in libcrypto.
struct TFileDigest::Context {
    EVP_MD_CTX* md = nullptr;
    uLong crc = crc32(0L, Z_NULL, 0);
    ~Context() { EVP_MD_CTX_free(md); }
};

namespace {
const EVP_MD* EvpOf(TDigestAlgorithm algorithm) {
    switch (algorithm) {
    case TDigestAlgorithm::Sha256: return EVP_sha256();
    case TDigestAlgorithm::Sha1: return EVP_sha1();
    case TDigestAlgorithm::Md5: return EVP_md5();
    case TDigestAlgorithm::Crc32: break;
    }
    return nullptr;
}
} // namespace

TFileDigest::TFileDigest(const std::string& path, TDigestAlgorithm algorithm)
    : algorithm_(algorithm), file_(path, TFileMode::ReadDenyWrite), ctx_(std::make_unique<Context>()),
      block_(std::make_unique<char[]>(kBlockSize)) {
    if (const EVP_MD* md = EvpOf(algorithm)) {
        ctx_->md = EVP_MD_CTX_new();
        if (!ctx_->md || EVP_DigestInit_ex(ctx_->md, md, nullptr) != 1)
            throw EStreamError(std::string(DigestName(algorithm)) + " digest unavailable");
    }
}

TFileDigest::~TFileDigest() = default;

bool TFileDigest::Step(int budgetMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    do {
        const size_t n = file_.Read(block_.get(), kBlockSize);
        if (n == 0) return true;
        bytesRead_ += int64_t(n);
        if (ctx_->md)
            EVP_DigestUpdate(ctx_->md, block_.get(), n);
        else
            ctx_->crc = crc32(ctx_->crc, reinterpret_cast<const Bytef*>(block_.get()), uInt(n));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string TFileDigest::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (ctx_->md) {
        EVP_DigestFinal_ex(ctx_->md, digest, &len);
    } else {
        for (int shift = 24; shift >= 0; shift -= 8) digest[len++] = (unsigned char)((ctx_->crc >> shift) & 0xFF);
    }
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < len; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

} // namespace nubo
