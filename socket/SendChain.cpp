#include "socket/SendChain.h"

#include <algorithm>
#include <climits>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

namespace nubo {

namespace {
// Chunks gathered into one call at most.
constexpr int kMaxGather = 64;
// Bytes of a file range offered to one call at most.
constexpr int64_t kMaxFileOffer = int64_t(1) << 30;
// Bytes of a file range read for a writer at once: many records per loop round.
constexpr size_t kWriterFileBlock = 256 * 1024;
} // namespace

void TSendChain::Append(const char* data, int len, int chunkSize) {
    while (len > 0) {
        if (items_.empty() || !items_.back().Buf || items_.back().Buf->Room() == 0)
            items_.push_back(TItem{std::make_unique<TBuffer>(chunkSize)});
        int n = items_.back().Buf->Write(data, len);
        data += n;
        len -= n;
    }
}

void TSendChain::AppendFile(int fd, int64_t offset, int64_t len) {
    TItem item;
    item.FileFd = fd;
    item.FileOff = offset;
    item.FileLen = len;
    items_.push_back(std::move(item));
}

bool TSendChain::Empty() {
    while (!items_.empty() && items_.front().Empty()) {
        if (!items_.front().Buf) blockLen_ = 0; // the block belonged to this range
        items_.pop_front();
    }
    return items_.empty();
}

int64_t TSendChain::SendTo(int sockFd, size_t& offered) {
    TItem& front = items_.front();
    const int64_t sent = front.Buf ? SendChunks(sockFd, offered) : SendFileRange(sockFd, front, offered);
    if (sent > 0) Consume(size_t(sent));
    return sent;
}

int64_t TSendChain::SendThrough(const TWriter& write, size_t& offered) {
    TItem& front = items_.front();
    int64_t sent;
    if (front.Buf) {
        int n;
        const char* p = front.Buf->Peek(n);
        offered = size_t(n);
        sent = write(p, offered);
    } else {
        if (fileBlock_.empty()) fileBlock_.resize(kWriterFileBlock);
        if (front.FileOff < blockOff_ || front.FileOff >= blockOff_ + int64_t(blockLen_)) {
            blockLen_ = 0;
            const size_t want = size_t(std::min<int64_t>(front.FileLen, int64_t(fileBlock_.size())));
            const ssize_t got = ::pread(front.FileFd, fileBlock_.data(), want, off_t(front.FileOff));
            if (got <= 0) {
                offered = 0;
                if (got < 0) return -1;
                front.FileLen = 0; // the file ended early (truncated meanwhile)
                return 0;
            }
            blockOff_ = front.FileOff;
            blockLen_ = size_t(got);
        }
        const size_t at = size_t(front.FileOff - blockOff_);
        offered = std::min(blockLen_ - at, size_t(front.FileLen));
        sent = write(fileBlock_.data() + at, offered);
    }
    if (sent > 0) Consume(size_t(sent));
    return sent;
}

int64_t TSendChain::SendFileRange(int sockFd, TItem& item, size_t& offered) {
    off_t off = off_t(item.FileOff);
    offered = size_t(std::min(item.FileLen, kMaxFileOffer));
    const ssize_t sent = ::sendfile(sockFd, item.FileFd, &off, offered);
    if (sent == 0) {
        // The file ended early (it was truncated meanwhile): nothing more to send.
        item.FileLen = 0;
        offered = 0;
    }
    return sent;
}

// Gathers the chunks up to the next file range in one call.
int64_t TSendChain::SendChunks(int sockFd, size_t& offered) {
    iovec iov[kMaxGather];
    int cnt = 0;
    offered = 0;
    for (auto& item : items_) {
        if (!item.Buf) break;
        int n;
        const char* p = item.Buf->Peek(n);
        if (n == 0) continue;
        iov[cnt].iov_base = const_cast<char*>(p);
        iov[cnt].iov_len = size_t(n);
        offered += size_t(n);
        if (++cnt == kMaxGather) break;
    }
    msghdr msg{};
    msg.msg_iov = iov;
    msg.msg_iovlen = size_t(cnt);
    return ::sendmsg(sockFd, &msg, MSG_NOSIGNAL);
}

void TSendChain::Consume(size_t sent) {
    TItem& front = items_.front();
    if (!front.Buf) {
        front.FileOff += int64_t(sent);
        front.FileLen -= int64_t(sent);
        return;
    }
    for (auto& item : items_) {
        if (sent == 0 || !item.Buf) break;
        int n = std::min<int>(item.Buf->Unread(), int(std::min<size_t>(sent, INT_MAX)));
        item.Buf->Remove(n);
        sent -= size_t(n);
    }
}

} // namespace nubo
