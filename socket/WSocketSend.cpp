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
            if (tlsStart_ && fd_ != INVALID_SOCKET) BeginTls();
            return true;
        }
        if (Handshaking()) return true; // what is queued waits for the handshake
        size_t offered = 0;
        const int64_t sent = SendOnce(offered);
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

// One system call's worth of the chain: straight to the descriptor, or through the TLS
// stage. A failing stage reports itself as a reset connection.
int64_t TCustomWSocket::SendOnce(size_t& offered) {
    if (!tls_) return chain_.SendTo(fd_, offered);
    int writeErr = 0;
    const int64_t sent = chain_.SendThrough(
        [&](const char* data, size_t len) -> int64_t {
            TTlsStage::TWait wait = TTlsStage::TWait::None;
            const int64_t n = tls_->Write(data, len, wait);
            if (n < 0) writeErr = wait == TTlsStage::TWait::None ? ECONNRESET : EAGAIN;
            return n;
        },
        offered);
    if (sent < 0 && writeErr != 0) errno = writeErr; // else a file read failed: its errno stands
    return sent;
}

void TCustomWSocket::DoWritable(uint16_t err) {
    int fd = fd_;
    if (!TryToSend() || fd != fd_) return;
    if (!allSent_) return;
    // An adoption's OnDataSent waits until the TLS start and its handshake are over.
    if (tlsStart_ || Handshaking()) {
        dataSentOwed_ = true;
        return;
    }
    TriggerDataSent(err);
}

void TCustomWSocket::DeleteBufferedData() {
    chain_.Clear();
    allSent_ = true;
}

} // namespace nubo
