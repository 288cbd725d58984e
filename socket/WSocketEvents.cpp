// Readiness from the loop turned into the socket's events, and the receive side.
#include "socket/WSocket.h"

#include <algorithm>
#include <stdexcept>

#include <sys/ioctl.h>
#include <sys/socket.h>

namespace nubo {

namespace {
constexpr uint32_t kClosedMask = ioPeerClosed | ioHangUp | ioError;
} // namespace

void TCustomWSocket::HandleEvents(int fd, uint32_t ev) {
    if (fd != fd_ || paused_) return;
    // Keep this object's guard while handlers run: they may not delete the socket,
    // but they may close it or give it a new handle; each step re-checks the handle.
    try {
        if (state_ == wsListening) {
            if (ev & ioRead) {
                if (OnSessionAvailable) OnSessionAvailable(*this, 0);
            }
            return;
        }
        if (state_ == wsConnecting) {
            if (ev & (ioWrite | ioError | ioHangUp)) {
                int soerr = 0;
                socklen_t l = sizeof soerr;
                getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soerr, &l);
                DoConnectComplete(uint16_t(MapSystemError(soerr)));
                if (fd != fd_) return;
            } else {
                return; // nothing else counts before the connection completes
            }
        }
        bool closed = (ev & kClosedMask) != 0;
        if (Handshaking()) {
            if (closed) return ConnectionLost(WSAECONNABORTED); // the peer gave up before TLS was up
            return DriveHandshake();
        }
        if ((ev & ioRead) && !closed) {
            if (state_ != wsConnected) {
                ChangeState(wsConnected);
                TriggerSessionConnected(0);
                if (fd != fd_) return;
            }
            DoReceiveLoop(0, !(ComponentOptions & wsoNoReceiveLoop));
            if (fd != fd_) return;
            // Bytes left inside the stage would not wake the loop again.
            if (tls_ && !paused_ && tls_->Buffered()) PostReadable();
        }
        if (ev & ioWrite) {
            WantWrite(false);
            DoWritable(0);
            if (fd != fd_) return;
        }
        if (closed) {
            int soerr = 0;
            socklen_t l = sizeof soerr;
            if (ev & ioError) getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soerr, &l);
            DoClosedByPeer(uint16_t(MapSystemError(soerr)));
        }
    } catch (const std::exception& e) {
        ReportBgException(e, fd, true);
    } catch (...) {
        ReportBgException(std::runtime_error("an exception of unknown type"), fd, true);
    }
}

// An exception a handler let out goes to OnBgException, the socket's report of failures
// in the background; canClose is what happens when the report does not decide. Nothing
// leaves here: the loop must never see one socket's exception, as it would end them all.
void TCustomWSocket::ReportBgException(const std::exception& e, int fd, bool canClose) {
    if (OnBgException) {
        try {
            OnBgException(*this, e, canClose);
        } catch (...) {
            // The report itself failed; what canClose said stands.
        }
    }
    if (canClose && fd == fd_) {
        try {
            Abort();
        } catch (...) {
            // Only a failing close or a closed handler throws here; the handle is gone
            // either way, which is all this step is for.
        }
    }
}

void TCustomWSocket::DoConnectComplete(uint16_t err) {
    if (state_ == wsConnected) return;
    ChangeState(wsConnected);
    TriggerSessionConnected(err);
    if (err != 0 && state_ != wsClosed) Close();
}

void TCustomWSocket::DoReceiveLoop(uint16_t err, bool receiveLoop) {
    int fd = fd_;
    while (true) {
        LastError = 0;
        if (OnDataAvailable) {
            // A handler that throws ends this round of reading; the socket stays open
            // and what it left unread stays in the kernel, offered again next round.
            try {
                TriggerDataAvailable(err);
            } catch (const std::exception& e) {
                ReportBgException(e, fd, false);
                return;
            } catch (...) {
                ReportBgException(std::runtime_error("an exception of unknown type"), fd, false);
                return;
            }
        } else {
            char junk[kDiscardReadSize];
            int n = Receive(junk, sizeof junk);
            if (n < 0 && LastError == WSAEWOULDBLOCK) {
                LastError = 0;
                return;
            }
            if (n <= 0) return;
        }
        // A paused socket reads nothing more: its owner holds what it has (a full line
        // buffer would otherwise be offered again and again).
        if (!receiveLoop || fd != fd_ || paused_) return;
        if (LastError != 0) {
            if (LastError == -1) LastError = 0;
            return;
        }
        int waiting = RcvdCount();
        if (waiting <= 0) return;
    }
}

void TCustomWSocket::DoClosedByPeer(uint16_t err) {
    if (state_ == wsConnecting || fd_ == INVALID_SOCKET) return;
    int fd = fd_;
    DoReceiveLoop(0, true);
    if (fd != fd_) return;
    // The owner paused reading with bytes still unread (a throttled upload): the end is
    // reported after them, once reading resumes.
    if (paused_) {
        closeOwed_ = true;
        return;
    }
    if (!closedFired_) {
        closedFired_ = true;
        TriggerSessionClosed(err);
    }
    if (fd == fd_ && state_ != wsClosed) Close();
}

int TCustomWSocket::Receive(void* buf, int size) {
    if (fd_ == INVALID_SOCKET) {
        LastError = WSAENOTCONN;
        return -1;
    }
    if (tls_ || tlsStart_) return ReceivePlain(static_cast<char*>(buf), size);
    ssize_t n = ::recv(fd_, buf, size_t(std::max(size, 0)), 0);
    if (n < 0) {
        LastError = LastSysError();
        return -1;
    }
    readCount_ += n;
    return int(n);
}

bool TCustomWSocket::PeerClosed() const {
    if (fd_ == INVALID_SOCKET) return true;
    char c;
    return ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

int TCustomWSocket::RcvdCount() {
    int n = 0;
    if (fd_ == INVALID_SOCKET || ioctl(fd_, FIONREAD, &n) < 0) {
        LastError = fd_ == INVALID_SOCKET ? WSAENOTSOCK : LastSysError();
        return -1;
    }
    // Records the TLS stage read ahead are waiting too, though the descriptor no longer
    // shows them: a read loop that stopped here would lose them when the peer closes.
    if (tls_ && tls_->Buffered()) n += std::max(tls_->Pending(), 1);
    return n;
}

// Decrypted bytes, as many records as fit and have come: a block of an upload is read
// in one call, not one record a loop round. Nothing is read before the handshake ends.
int TCustomWSocket::ReceivePlain(char* buf, int size) {
    if (!tls_ || !tls_->Established()) {
        LastError = WSAEWOULDBLOCK;
        return -1;
    }
    int total = 0;
    while (total < size) {
        TTlsStage::TWait wait = TTlsStage::TWait::None;
        const int n = tls_->Read(buf + total, size - total, wait);
        if (n > 0) {
            total += n;
            continue;
        }
        if (n == 0) {
            // The peer's close alert: it waits for ours before it closes, so no hang-up
            // will come to end the connection; its end is handled as one, after what
            // came before it.
            PostPeerClosed();
            if (total == 0) return 0;
        }
        if (total > 0) break; // what came is delivered; a wait shows next time
        if (wait == TTlsStage::TWait::None) {
            LastError = WSAECONNRESET;
            return -1;
        }
        if (wait == TTlsStage::TWait::Write) WantWrite(true);
        LastError = WSAEWOULDBLOCK;
        return -1;
    }
    readCount_ += total;
    return total;
}

void TCustomWSocket::TriggerDataAvailable(uint16_t err) {
    if (OnDataAvailable) OnDataAvailable(*this, err);
}

void TCustomWSocket::TriggerSessionClosed(uint16_t err) {
    if (OnSessionClosed) OnSessionClosed(*this, err);
}

void TCustomWSocket::TriggerDataSent(uint16_t err) {
    if (OnDataSent) OnDataSent(*this, err);
}

void TCustomWSocket::TriggerSessionConnected(uint16_t err) {
    if (OnSessionConnected) OnSessionConnected(*this, err);
}

} // namespace nubo
