#include "socket/WSockBuf.h"

#include <algorithm>
#include <cstring>

namespace nubo {

TBuffer::TBuffer(int capacity) {
    SetCapacity(capacity);
}

void TBuffer::SetCapacity(int capacity) {
    if (capacity <= 0) capacity = kEthernetFrameSize;
    int keep = std::min(Unread(), capacity);
    auto fresh = std::make_unique<char[]>(size_t(capacity));
    if (keep > 0) std::memcpy(fresh.get(), buf_.get() + rd_, size_t(keep));
    buf_ = std::move(fresh);
    capacity_ = capacity;
    rd_ = 0;
    wr_ = keep;
}

int TBuffer::Write(const void* data, int len) {
    int n = std::min(len, Room());
    if (n <= 0) return 0;
    std::memcpy(buf_.get() + wr_, data, size_t(n));
    wr_ += n;
    return n;
}

const char* TBuffer::Peek(int& len) const {
    len = Unread();
    return buf_.get() + rd_;
}

void TBuffer::Remove(int len) {
    rd_ += std::min(len, Unread());
    if (rd_ >= wr_) rd_ = wr_ = 0;
}

} // namespace nubo
