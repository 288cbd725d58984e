// Queueing on the send chain, and the pump that hands it to the system.
#include "socket/WSocket.h"

#include <algorithm>
#include <cerrno>

namespace nubo {

// Send and SendFile: only a connected socket queues; a would-be send elsewhere is the
// "Send" error with 10057.
bool TCustomWSocket::CanQueue() {
    if (state_ == wsConnected || state_ == wsSocksConnected) return true;
    LastError = WSAENOTCONN;
    RaiseError(WSAENOTCONN, "Send");
    return false;
}

// After queueing: the pump runs once, and a chain it emptied is reported from the loop.
void TCustomWSocket::PumpQueued() {
    TryToSend();
    if (fd_ != INVALID_SOCKET && allSent_) PostWritable();
}

int TCustomWSocket::Send(const void* data, int len) {
    if (!CanQueue()) return -1;
    allSent_ = false;
    if (len > 0) chain_.Append(static_cast<const char*>(data), len, BufSize);
    PumpQueued();
    return std::max(len, 0);
}

int64_t TCustomWSocket::SendFile(int fileFd, int64_t offset, int64_t len) {
    if (!CanQueue()) return -1;
    allSent_ = false;
    if (len > 0) chain_.AppendFile(fileFd, offset, len);
    PumpQueued();
    return std::max<int64_t>(len, 0);
}

int TCustomWSocket::SendStr(const std::string& s) {
    if (s.empty()) return 0;
    return Send(s.data(), int(s.size()));
}

// The send pump: gives the system what it takes, in order. Returns false when the
// connection was lost during the attempt.
bool TCustomWSocket::TryToSend() {
    while (true) {
        if (chain_.Empty() || fd_ == INVALID_SOCKET) {
            allSent_ = true;
            return true;
        }
        size_t offered = 0;
        const int64_t sent = chain_.SendTo(fd_, offered);
        if (sent < 0) {
            int code = LastSysError();
            if (code == WSAEWOULDBLOCK || errno == EINTR) {
                WantWrite(true);
                return true;
            }
            if (code == WSAEINVAL || code == WSAENOTSOCK || code == WSAECONNABORTED || code == WSAECONNRESET ||
                code == WSAENOTCONN) {
                LastError = code;
                closedFired_ = true;
                InternalClose(false, 0);
                TriggerSessionClosed(uint16_t(code));
                return false;
            }
            RaiseError(code, "TryToSend failed");
            return false;
        }
        if (offered == 0) continue; // a file range that ended early, dropped
        if (OnSendData) OnSendData(*this, int(sent));
        // A partial send means the kernel is full: wait for writability.
        if (size_t(sent) < offered) {
            WantWrite(true);
            return true;
        }
    }
}

void TCustomWSocket::DoWritable(uint16_t err) {
    int fd = fd_;
    if (!TryToSend() || fd != fd_) return;
    if (allSent_) TriggerDataSent(err);
}

void TCustomWSocket::DeleteBufferedData() {
    chain_.Clear();
    allSent_ = true;
}

} // namespace nubo
