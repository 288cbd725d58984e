#pragma once
// The MD5 digest of one file, read in blocks of 102400 bytes while other writers are kept
// out. Step() reads until the file ends or a time budget is spent, so that a large file
// can be digested in slices between rounds of the event loop.

#include <memory>
#include <string>

#include "platform/Stream.h"

namespace nubo {

class TFileMd5 {
public:
    static constexpr size_t kBlockSize = 102400;

    // Opens the file; raises EStreamError when it cannot.
    explicit TFileMd5(const std::string& path);
    ~TFileMd5();
    TFileMd5(const TFileMd5&) = delete;
    TFileMd5& operator=(const TFileMd5&) = delete;

    // Reads on for about budgetMs milliseconds (at least one block); true once the whole
    // file is in the digest. Raises EStreamError on a read failure.
    bool Step(int budgetMs);
    // 32 lower-case hexadecimal digits, once Step() has returned true.
    std::string HexDigest();

private:
    struct Context;
    TFileStream file_;
    std::unique_ptr<Context> ctx_;
    std::unique_ptr<char[]> block_;
};

} // namespace nubo
