#pragma once
// One chunk of a socket's send-buffer chain: a fixed block with a write count and a
// read count. Appending copies what fits; consuming everything makes it reusable.

#include <cstddef>
#include <memory>

namespace nubo {

// A chunk made without a size holds one Ethernet frame: 1500 bytes of payload and the
// 14-byte header.
constexpr int kEthernetFrameSize = 1514;

class TBuffer {
public:
    explicit TBuffer(int capacity);
    int Capacity() const { return capacity_; }
    void SetCapacity(int capacity);       // keeps the unread bytes
    int Write(const void* data, int len); // returns how many bytes were taken
    const char* Peek(int& len) const;     // unread bytes
    void Remove(int len);                 // consume
    int Unread() const { return wr_ - rd_; }
    int Room() const { return capacity_ - wr_; }

private:
    std::unique_ptr<char[]> buf_;
    int capacity_ = 0;
    int wr_ = 0;
    int rd_ = 0;
};

} // namespace nubo
