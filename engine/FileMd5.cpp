#include "engine/FileMd5.h"

#include <chrono>
#include <openssl/evp.h>

namespace nubo {

struct TFileMd5::Context {
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

TFileMd5::TFileMd5(const std::string& path)
    : file_(path, TFileMode::ReadDenyWrite), ctx_(std::make_unique<Context>()),
      block_(std::make_unique<char[]>(kBlockSize)) {
    if (!ctx_->md || EVP_DigestInit_ex(ctx_->md, EVP_md5(), nullptr) != 1) throw EStreamError("MD5 digest unavailable");
}

TFileMd5::~TFileMd5() = default;

bool TFileMd5::Step(int budgetMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    do {
        size_t n = file_.Read(block_.get(), kBlockSize);
        if (n == 0) return true;
        EVP_DigestUpdate(ctx_->md, block_.get(), n);
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

std::string TFileMd5::HexDigest() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(ctx_->md, digest, &len);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned i = 0; i < len; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

} // namespace nubo
