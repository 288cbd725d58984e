#pragma once
// What a socket still has to send, in order: copied bytes in fixed chunks, and ranges
// of open files that go out without a copy (sendfile). The chain does not own the
// files' descriptors; whoever queued a range keeps its descriptor open until the range
// is sent or the chain cleared.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "socket/WSockBuf.h"

namespace nubo {

class TSendChain {
public:
    // Copies len bytes, filling the last chunk first, then new chunks of chunkSize.
    void Append(const char* data, int len, int chunkSize);
    // Queues len bytes of the open file fd from offset.
    void AppendFile(int fd, int64_t offset, int64_t len);
    // Nothing left to send (what was sent is dropped on the way).
    bool Empty();
    void Clear() {
        items_.clear();
        blockLen_ = 0;
    }
    // One system call that gives the socket what leads the chain: the chunks up to the
    // next file range, or the leading file range. Returns the bytes taken, which leave
    // the chain, or -1 with errno set; offered tells how many were offered. A file
    // range that ends early (its file was truncated meanwhile) is dropped: 0 is
    // returned with offered 0.
    int64_t SendTo(int sockFd, size_t& offered);
    // The same through a writer of plaintext (a TLS stage) that returns the bytes it took
    // or -1: the leading chunk, or a block of the leading file range read for it. A
    // writer that took nothing is offered at least as many bytes the next time.
    using TWriter = std::function<int64_t(const char* data, size_t len)>;
    int64_t SendThrough(const TWriter& write, size_t& offered);

private:
    struct TItem {
        std::unique_ptr<TBuffer> Buf;
        int FileFd = -1;
        int64_t FileOff = 0;
        int64_t FileLen = 0;
        bool Empty() const { return Buf ? Buf->Unread() == 0 : FileLen == 0; }
    };
    int64_t SendFileRange(int sockFd, TItem& item, size_t& offered);
    int64_t SendChunks(int sockFd, size_t& offered);
    void Consume(size_t sent);

    std::deque<TItem> items_;
    std::vector<char> fileBlock_; // file data on its way through a writer; made at first use
    // The part of the leading file range that fileBlock_ holds, kept until it is sent: a
    // writer that takes part of a block (the socket is full) does not cost a new read.
    int64_t blockOff_ = 0;
    size_t blockLen_ = 0;
};

} // namespace nubo
