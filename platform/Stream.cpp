#include "platform/Stream.h"

#include <algorithm>
#include <cstring>

namespace nubo {

void TStream::ReadBuffer(void* buffer, size_t count) {
    if (count && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, size_t count) {
    if (count && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

size_t TMemoryStream::Read(void* buffer, size_t count) {
    if (pos_ >= Size()) return 0;
    size_t n = std::min(count, size_t(Size() - pos_));
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += int64_t(n);
    return n;
}

size_t TMemoryStream::Write(const void* buffer, size_t count) {
    if (!count) return 0;
    size_t end = size_t(pos_) + count;
    if (end > data_.size()) data_.resize(end); // a gap after a seek past the end reads as zeros
    std::memcpy(data_.data() + pos_, buffer, count);
    pos_ = int64_t(end);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = origin == TSeekOrigin::Begin ? 0 : origin == TSeekOrigin::Current ? pos_ : Size();
    if (base + offset < 0) throw EStreamError("Invalid stream position");
    pos_ = base + offset;
    return pos_;
}

void TMemoryStream::Clear() {
    data_.clear();
    pos_ = 0;
}

} // namespace nubo
