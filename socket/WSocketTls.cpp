// The TLS stage's place in the socket: starting it, driving the handshake, and the
// events that wait for it.
#include <utility>

#include "socket/WSocket.h"

namespace nubo {

void TCustomWSocket::StartTls(SSL_CTX* ctx, std::string sessionMark) {
    if (state_ != wsConnected || fd_ == INVALID_SOCKET || TlsOn() || !ctx) {
        LastError = WSAEINVAL;
        return RaiseError(WSAEINVAL, "StartTls");
    }
    tlsStart_ = ctx;
    tlsMark_ = std::move(sessionMark);
    // What is queued (the reply that agrees to TLS) leaves in clear first.
    if (chain_.Empty()) BeginTls();
}

void TCustomWSocket::BeginTls() {
    SSL_CTX* ctx = std::exchange(tlsStart_, nullptr);
    tls_ = std::make_unique<TTlsStage>(ctx, fd_, std::exchange(tlsMark_, {}));
    DriveHandshake();
}

void TCustomWSocket::DriveHandshake() {
    const int fd = fd_;
    TTlsStage::TWait wait = TTlsStage::TWait::None;
    if (tls_->Handshake(wait)) {
        WantWrite(false);
        if (OnTlsDone) OnTlsDone(*this, 0);
        if (fd != fd_) return;
        // What waited for the handshake goes now: queued plaintext and the held
        // OnDataSent; decrypted bytes that came with the handshake are read.
        if (!chain_.Empty() || dataSentOwed_) {
            dataSentOwed_ = false;
            PostWritable();
        }
        if (tls_->Buffered()) PostReadable();
        return;
    }
    if (wait != TTlsStage::TWait::None) {
        WantWrite(wait == TTlsStage::TWait::Write);
        return;
    }
    LastError = WSAECONNABORTED;
    if (OnTlsDone) OnTlsDone(*this, WSAECONNABORTED);
    if (fd != fd_) return;
    DeleteBufferedData();
    ConnectionLost(WSAECONNABORTED);
}

// Bytes wait inside the stage, where the descriptor's readiness cannot show them: a
// read round is posted for them.
void TCustomWSocket::PostReadable() {
    PostForHandle([this](int fd) {
        if (paused_ || !tls_) return;
        DoReceiveLoop(0, !(ComponentOptions & wsoNoReceiveLoop));
        if (fd == fd_ && tls_ && !paused_ && tls_->Buffered()) PostReadable();
    });
}

void TCustomWSocket::PostPeerClosed() {
    if (std::exchange(tlsPeerClosed_, true)) return;
    PostForHandle([this](int) { DoClosedByPeer(0); });
}

// A step run from the loop while the socket still has the handle it has now; what the
// step lets out is reported as a readiness event's would be.
void TCustomWSocket::PostForHandle(std::function<void(int fd)> step) {
    const int fd = fd_;
    loop_.Post(alive_, [this, fd, step = std::move(step)] {
        if (fd != fd_) return;
        try {
            step(fd);
        } catch (const std::exception& e) {
            ReportBgException(e, fd, true);
        }
    });
}

void TCustomWSocket::DropTls() {
    tlsPeerClosed_ = false;
    tls_.reset();
    tlsStart_ = nullptr;
    dataSentOwed_ = false;
}

} // namespace nubo
