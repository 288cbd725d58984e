// The socket's configuration, state, errors, registration with the loop, and closing.
#include "socket/WSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>

#include "platform/Text.h"
#include "socket/NameResolution.h"

namespace nubo {

TCustomWSocket::TCustomWSocket(TEventLoop& loop) : loop_(loop), alive_(std::make_shared<char>(0)) {}

TCustomWSocket::~TCustomWSocket() {
    destroying_ = true;
    if (state_ != wsClosed || fd_ != INVALID_SOCKET) {
        try {
            InternalClose(true, 0);
        } catch (...) {
            // Nothing may leave a destructor, and no one is left to hear of a failing
            // close or an OnChangeState handler's error; the handle goes below either way.
        }
    }
    if (fd_ != INVALID_SOCKET) {
        Unregister();
        ::close(fd_);
    }
}

void TCustomWSocket::CheckClosedFor(const char* what) const {
    if (state_ != wsClosed) throw ESocketException(std::string("Cannot change ") + what + " if not closed", WSAEINVAL);
}

// A remote setting: trimmed, marked assigned when not empty, and resolved afresh at the
// next use unless it is unchanged.
void TCustomWSocket::Assign(const char* what, const std::string& v, std::string& field, bool& assigned,
                            bool& resolved) {
    CheckClosedFor(what);
    std::string t = TrimBlanks(v);
    if (assigned && t == field) return;
    field = t;
    assigned = !t.empty();
    resolved = false;
}

void TCustomWSocket::SetAddr(const std::string& v) {
    Assign("Addr", v, addr_, addrAssigned_, addrRes_.ok);
}
void TCustomWSocket::SetPort(const std::string& v) {
    Assign("Port", v, port_, portAssigned_, portRes_.ok);
}
void TCustomWSocket::SetProto(const std::string& v) {
    Assign("Proto", v, proto_, protoAssigned_, protoRes_.ok);
}

void TCustomWSocket::SetLocalAddr(const std::string& v) {
    CheckClosedFor("LocalAddr");
    localAddr_ = v.empty() ? "0.0.0.0" : v;
}

void TCustomWSocket::SetLocalPort(const std::string& v) {
    CheckClosedFor("LocalPort");
    localPort_ = v;
    localPortRes_ = {};
}

void TCustomWSocket::ChangeState(TSocketState s) {
    TSocketState old = state_;
    state_ = s;
    if (old != s && OnChangeState) OnChangeState(*this, old, s);
}

void TCustomWSocket::RaiseText(const std::string& msg, int code) {
    if (code) LastError = code;
    if (OnError) {
        OnError(*this);
        return;
    }
    throw ESocketException(msg, code);
}

void TCustomWSocket::RaiseError(int code, const std::string& label) {
    if (code == WSAECONNRESET || code == WSAENOTCONN) {
        ConnectionLost(code);
    }
    LastError = code;
    RaiseText(SocketErrorMessage(code, label), code);
}

// A reset or not-connected error: the handle is gone at once.
void TCustomWSocket::ConnectionLost(int code) {
    if (fd_ != INVALID_SOCKET) {
        Unregister();
        ::close(fd_);
        fd_ = INVALID_SOCKET;
    }
    DropTls();
    if (state_ != wsClosed) {
        bool fire = !closedFired_ && !destroying_;
        closedFired_ = true;
        ChangeState(wsClosed);
        if (fire) TriggerSessionClosed(uint16_t(code));
    }
}

void TCustomWSocket::Register(uint32_t events) {
    Unregister();
    events_ = events;
    int fd = fd_;
    token_ = loop_.Add(fd_, paused_ ? 0 : events_, [this, fd](uint32_t ev) { HandleEvents(fd, ev); });
    if (token_ == 0) RaiseError(LastSysError(), "WSAASyncSelect");
}

void TCustomWSocket::Unregister() {
    if (token_) loop_.Remove(token_);
    token_ = 0;
}

void TCustomWSocket::WantWrite(bool on) {
    uint32_t ev = on ? (events_ | ioWrite) : (events_ & ~uint32_t(ioWrite));
    if (ev == events_) return;
    events_ = ev;
    if (token_ && !paused_) loop_.Modify(token_, events_);
}

void TCustomWSocket::PostWritable() {
    int fd = fd_;
    loop_.Post(alive_, [this, fd] {
        if (fd != fd_ || paused_) return; // the handle changed meanwhile
        DoWritable(0);
    });
}

void TCustomWSocket::ResolveForUse(const char* prefix, bool withLocal) {
    try {
        if (!protoRes_.ok) {
            protoRes_.value = uint32_t(WSocketResolveProto(proto_));
            protoRes_.ok = true;
        }
        // Every socket of this layer is a TCP stream.
        if (protoRes_.value != IPPROTO_TCP)
            throw ESocketException("Protocol not supported: '" + proto_ + "'", WSAEPROTONOSUPPORT);
        if (!portRes_.ok) {
            portRes_.value = WSocketResolvePort(port_, proto_);
            portRes_.ok = true;
        }
        if (withLocal && !localPortRes_.ok) {
            localPortRes_.value = WSocketResolvePort(localPort_, proto_);
            localPortRes_.ok = true;
        }
        if (!addrRes_.ok) {
            addrRes_.value = WSocketResolveHost(addr_);
            addrRes_.ok = true;
        }
    } catch (const ESocketException& e) {
        RaiseText(std::string(prefix) + e.what(), e.ErrorCode);
        throw; // OnError handled it: the operation stops here
    }
}

void TCustomWSocket::InternalClose(bool shutdownSend, uint16_t err) {
    if (fd_ == INVALID_SOCKET) {
        if (state_ != wsClosed) {
            ChangeState(wsClosed);
            AssignDefaultValue();
        }
        return;
    }
    if (state_ == wsClosed) {
        // A listener that never got its handle registered, or an adopted handle that
        // failed half-way: forget it.
        Unregister();
        ::close(fd_);
        fd_ = INVALID_SOCKET;
        DropTls();
        return;
    }
    if (shutdownSend) {
        if (tls_ && tls_->Established()) tls_->Shutdown();
        ::shutdown(fd_, SHUT_WR);
    }
    DeleteBufferedData(); // nothing queued can leave after the close, and file ranges must not outlive it
    Unregister();
    int rc = ::close(fd_);
    fd_ = INVALID_SOCKET;
    DropTls();
    if (rc < 0 && errno != EINTR) {
        int code = LastSysError();
        LastError = code;
        RaiseText(SocketErrorMessage(code, "Disconnect (closesocket)"), code);
        return;
    }
    ChangeState(wsClosed);
    if (!destroying_ && !closedFired_) {
        closedFired_ = true;
        TriggerSessionClosed(err);
    }
    try {
        AssignDefaultValue();
    } catch (...) {
        // The close is done and reported; a reset that fails (the base one only assigns)
        // must not make it look failed to the caller.
    }
}

void TCustomWSocket::Close() {
    InternalClose(true, 0);
}

void TCustomWSocket::Abort() {
    DeleteBufferedData();
    InternalClose(false, 0);
}

void TCustomWSocket::Shutdown(int how) {
    if (fd_ == INVALID_SOCKET) return;
    if (how != 0 && tls_ && tls_->Established()) tls_->Shutdown(); // the close alert ends the data first
    ::shutdown(fd_, how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR);
}

void TCustomWSocket::CloseLater() {
    loop_.Post(alive_, [this] { Close(); });
}

void TCustomWSocket::FreeLater() {
    loop_.Post(alive_, [this] { delete this; });
}

void TCustomWSocket::Pause() {
    paused_ = true;
    if (token_) loop_.Modify(token_, 0);
}

void TCustomWSocket::Resume() {
    paused_ = false;
    if (token_) loop_.Modify(token_, events_);
    if (tls_ && tls_->Buffered()) PostReadable();
    if (std::exchange(closeOwed_, false)) PostForHandle([this](int) { DoClosedByPeer(0); });
}

void TCustomWSocket::AssignDefaultValue() {
    remote_ = {};
    addrAssigned_ = false;
    portAssigned_ = false;
    addrRes_ = {};
    portRes_ = protoRes_ = localPortRes_ = {};
    proto_ = "tcp";
    protoAssigned_ = true;
    localPort_ = "0";
    localAddr_ = "0.0.0.0";
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    events_ = 0;
    state_ = wsClosed;
    allSent_ = true;
    paused_ = false;
    closeOwed_ = false;
    readCount_ = 0;
    closedFired_ = false;
}

bool TCustomWSocket::PeerName(TInetAddress& sa, const char* label) {
    if (state_ != wsConnected) return false;
    sockaddr_storage ss{};
    socklen_t l = sizeof ss;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&ss), &l) < 0) {
        RaiseError(LastSysError(), label);
        return false;
    }
    sa = TInetAddress(reinterpret_cast<sockaddr*>(&ss), l);
    return true;
}

std::string TCustomWSocket::PeerAddr() {
    TInetAddress sa;
    if (!PeerName(sa, "GetPeerAddr")) return "error";
    return sa.Text();
}

std::string TCustomWSocket::PeerPort() {
    TInetAddress sa;
    if (!PeerName(sa, "GetPeerPort")) return "error";
    return std::to_string(sa.Port());
}

std::string TCustomWSocket::BoundAddr() const {
    TInetAddress sa;
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    if (SockName(sa) != 0) return "error";
    return sa.Text();
}

std::string TCustomWSocket::BoundPort() const {
    TInetAddress sa;
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    if (SockName(sa) != 0) return "error";
    return std::to_string(sa.Port());
}

TCustomWSocket::TSockName TCustomWSocket::LocalName() const {
    TInetAddress sa;
    if (int rc = SockName(sa)) throw ESocketException(SocketErrorMessage(rc, "getsockname"), rc);
    return {sa.Text(), sa.Port()};
}

int TCustomWSocket::SockName(TInetAddress& addr) const {
    if (fd_ == INVALID_SOCKET) return WSAENOTSOCK;
    sockaddr_storage ss{};
    socklen_t l = sizeof ss;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &l) < 0) return MapSystemError(errno);
    addr = TInetAddress(reinterpret_cast<sockaddr*>(&ss), l);
    return 0;
}

} // namespace nubo
