#pragma once
// The digest of one file (SHA-256, SHA-1, MD5 or CRC32), read in blocks of 102400 bytes
// while other writers are kept out. Step() reads until the file ends or a time budget is
// spent, so that a large file can be digested in slices between rounds of the event loop.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Stream.h"

namespace nubo {

enum class TDigestAlgorithm : uint8_t { Sha256, Sha1, Md5, Crc32 };

// Every algorithm, in the order FEAT lists them.
inline constexpr TDigestAlgorithm kDigestAlgorithms[] = {TDigestAlgorithm::Sha256, TDigestAlgorithm::Sha1,
                                                         TDigestAlgorithm::Md5, TDigestAlgorithm::Crc32};

// The name a client uses for it: "SHA-256", "SHA-1", "MD5", "CRC32".
const char* DigestName(TDigestAlgorithm algorithm);
// The algorithm of a name, letter case aside; false for a name not known here.
bool DigestByName(const std::string& name, TDigestAlgorithm& algorithm);

class TFileDigest {
public:
    static constexpr size_t kBlockSize = 102400;

    // Opens the file; raises EStreamError when it cannot.
    TFileDigest(const std::string& path, TDigestAlgorithm algorithm);
    ~TFileDigest();
    TFileDigest(const TFileDigest&) = delete;
    TFileDigest& operator=(const TFileDigest&) = delete;

    TDigestAlgorithm Algorithm() const { return algorithm_; }
    // Reads on for about budgetMs milliseconds (at least one block); true once the whole
    // file is in the digest. Raises EStreamError on a read failure.
    bool Step(int budgetMs);
    // The bytes digested so far: the file's length once Step() has returned true.
    int64_t BytesRead() const { return bytesRead_; }
    // Lower-case hexadecimal digits (8 for CRC32, the value's most significant first),
    // once Step() has returned true.
    std::string HexDigest();

private:
    struct Context;
    TDigestAlgorithm algorithm_;
    TFileStream file_;
    std::unique_ptr<Context> ctx_;
    std::unique_ptr<char[]> block_;
    int64_t bytesRead_ = 0;
};

} // namespace nubo
