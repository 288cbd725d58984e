#include "socket/WSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include "platform/Text.h"

namespace nubo {

namespace {

constexpr uint32_t kClosedMask = ioPeerClosed | ioHangUp | ioError;

// Exactly four decimal parts of at most 255, single dots, nothing empty.
bool ParseDotted(const std::string& text, uint32_t& out) {
    unsigned parts[4];
    int n = 0;
    size_t i = 0;
    while (n < 4) {
        if (i >= text.size() || !std::isdigit((unsigned char)text[i])) return false;
        unsigned v = 0;
        int digits = 0;
        while (i < text.size() && std::isdigit((unsigned char)text[i])) {
            v = v * 10 + unsigned(text[i] - '0');
            if (++digits > 3 || v > 255) return false;
            ++i;
        }
        parts[n++] = v;
        if (n < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    out = htonl(parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3]);
    return true;
}

int LastSysError() { return MapSystemError(errno); }

} // namespace

uint32_t WSocketResolveHost(const std::string& host) {
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.", WSAEINVAL);
    std::string t = TrimBlanks(host);
    uint32_t a;
    if (ParseDotted(t, a)) {
        if (a == INADDR_NONE && t != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.", WSAEINVAL);
        return a;
    }
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = AF_INET;
    int rc = getaddrinfo(t.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
        int code = rc == EAI_NONAME ? 11001 : rc == EAI_AGAIN ? 11002 : 11003;
        throw ESocketException("WSocketResolveHost: Cannot convert host address '" + host +
                                   "', Error #" + std::to_string(code),
                               code);
    }
    uint32_t v = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return v;
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.", WSAEINVAL);
    if (proto.empty() || proto.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Proto.", WSAEINVAL);
    if (std::isdigit((unsigned char)port[0])) {
        unsigned long v = 0;
        for (char c : port) {
            if (!std::isdigit((unsigned char)c)) break;
            v = (v * 10 + unsigned(c - '0')) & 0xFFFFFFFFul;
        }
        return uint16_t(v & 0xFFFF);
    }
    std::string p = TrimBlanks(proto);
    servent* se = getservbyname(TrimBlanks(port).c_str(), p.empty() ? nullptr : p.c_str());
    if (!se) {
        // Without a services database the two names the engine uses still work.
        std::string name = LowerCase(TrimBlanks(port));
        if (name == "ftp") return 21;
        if (name == "ftp-data") return 20;
        throw ESocketException("WSocketResolvePort: Cannot convert port '" + port + "', Error #11001", 11001);
    }
    return ntohs(uint16_t(se->s_port));
}

int WSocketResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() >= 32) throw ESocketException("WSocketResolveProto: Invalid Protocol.", WSAEINVAL);
    if (std::isdigit((unsigned char)proto[0])) return std::atoi(proto.c_str());
    std::string p = LowerCase(TrimBlanks(proto));
    if (p == "tcp") return IPPROTO_TCP;
    protoent* pe = getprotobyname(p.c_str());
    if (!pe)
        throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + proto + "', Error #11001", 11001);
    return pe->p_proto;
}

// ---------------------------------------------------------------------------

TCustomWSocket::TCustomWSocket(TEventLoop& loop) : loop_(loop), alive_(std::make_shared<char>(0)) {
    remote_.sin_family = AF_INET;
}

TCustomWSocket::~TCustomWSocket() {
    destroying_ = true;
    if (state_ != wsClosed || fd_ != INVALID_SOCKET) {
        try {
            InternalClose(true, 0);
        } catch (...) {
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

void TCustomWSocket::SetAddr(const std::string& v) {
    CheckClosedFor("Addr");
    std::string t = TrimBlanks(v);
    if (addrAssigned_ && t == addr_) return;
    addr_ = t;
    addrAssigned_ = !t.empty();
    addrRes_ = {};
}

void TCustomWSocket::SetPort(const std::string& v) {
    CheckClosedFor("Port");
    std::string t = TrimBlanks(v);
    if (portAssigned_ && t == port_) return;
    port_ = t;
    portAssigned_ = !t.empty();
    portRes_ = {};
}

void TCustomWSocket::SetProto(const std::string& v) {
    CheckClosedFor("Proto");
    std::string t = TrimBlanks(v);
    if (protoAssigned_ && t == proto_) return;
    proto_ = t;
    protoAssigned_ = !t.empty();
    protoRes_ = {};
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
    if (state_ != wsClosed) {
        bool fire = !closedFired_ && !destroying_;
        closedFired_ = true;
        ChangeState(wsClosed);
        if (fire) TriggerSessionClosed(uint16_t(code));
    }
}

void TCustomWSocket::SetNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
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

// A peer on this same host is reached without a network in between, so the pacing and
// bandwidth probing of a congestion control such as BBR only hold the connection back
// (a loopback download ran at two thirds of the speed it reaches without them). Reno is
// built into every kernel and open to every process; remote peers keep the system's choice.
void TCustomWSocket::TuneForLocalPeer() {
#ifdef TCP_CONGESTION
    sockaddr_in peer{}, self{};
    socklen_t pl = sizeof peer, sl = sizeof self;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &pl) < 0 || peer.sin_family != AF_INET) return;
    // Only a peer outside 127/8 costs the second call: it is local when it is this socket's own address.
    bool local = (ntohl(peer.sin_addr.s_addr) >> 24) == 127 ||
                 (getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &sl) == 0 &&
                  peer.sin_addr.s_addr == self.sin_addr.s_addr);
    static const char kReno[] = "reno";
    if (local) setsockopt(fd_, IPPROTO_TCP, TCP_CONGESTION, kReno, socklen_t(sizeof kReno - 1));
#endif
}

void TCustomWSocket::ApplyLinger() {
    if (LingerOnOff == wsLingerNoSet) return;
    if (fd_ == INVALID_SOCKET) {
        RaiseText("Cannot set linger option at this time");
        return;
    }
    // A linger time of 0 would make close() reset the connection and drop data still
    // queued in the kernel; closing then stays graceful on this platform.
    if (LingerOnOff == wsLingerOn && LingerTimeout <= 0) return;
    linger l{};
    l.l_onoff = LingerOnOff == wsLingerOn ? 1 : 0;
    l.l_linger = LingerTimeout;
    if (setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l) < 0) RaiseError(LastSysError(), "setsockopt(SO_LINGER)");
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

void TCustomWSocket::Listen() {
    if (!portAssigned_) return RaiseText("listen: port not assigned", WSAEINVAL);
    if (!protoAssigned_) return RaiseText("listen: protocol not assigned", WSAEINVAL);
    if (!addrAssigned_) return RaiseText("listen: address not assigned", WSAEINVAL);
    try {
        ResolveForUse("listen: ", false);
    } catch (const ESocketException&) {
        if (OnError) return;
        throw;
    }
    DeleteBufferedData();
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) {
        fd_ = INVALID_SOCKET;
        return RaiseError(LastSysError(), "socket");
    }
    SetNonBlocking(fd_);
    int one = 1;
    if (ListenReuseAddr) {
        if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
            return RaiseError(LastSysError(), "setsockopt(SO_REUSEADDR)");
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(portRes_.value));
    sa.sin_addr.s_addr = addrRes_.value;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) < 0) {
        int code = LastSysError();
        ::close(fd_);
        fd_ = INVALID_SOCKET;
        return RaiseError(code, "Bind");
    }
    ChangeState(wsBound);
    if (::listen(fd_, ListenBacklog) < 0) {
        int code = LastSysError();
        ::close(fd_);
        fd_ = INVALID_SOCKET;
        ChangeState(wsClosed);
        return RaiseError(code, "Listen");
    }
    ChangeState(wsListening);
    Register(ioRead);
}

TUniqueFd TCustomWSocket::Accept() {
    if (state_ != wsListening) {
        RaiseText("not a listening socket", WSAEINVAL);
        return TUniqueFd();
    }
    socklen_t len = sizeof remote_;
    TUniqueFd fd(::accept4(fd_, reinterpret_cast<sockaddr*>(&remote_), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!fd) {
        int code = LastSysError();
        LastError = code;
        if (code != WSAEWOULDBLOCK) RaiseError(code, "Accept");
    }
    return fd;
}

std::string PeerAddrOf(const TUniqueFd& fd) {
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd.Get(), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return "";
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &peer.sin_addr, buf, sizeof buf);
    return buf;
}

namespace {
TUniqueFd spare;
} // namespace

void TCustomWSocket::ReserveSpareDescriptor() {
    if (!spare) spare.Reset(::open("/dev/null", O_RDONLY | O_CLOEXEC));
}

bool TCustomWSocket::RefusePending(const std::string& reply) {
    if (!spare || state_ != wsListening) return false;
    spare.Reset();
    bool taken;
    {
        // Closed before the spare is taken back: with a full table that is the slot.
        const TUniqueFd fd(::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        taken = bool(fd);
        // One short write into an empty send buffer; what does not fit is not waited for.
        if (taken) (void)!::send(fd.Get(), reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    ReserveSpareDescriptor();
    return taken;
}

void TCustomWSocket::SetHSocket(int fd) {
    if (fd == INVALID_SOCKET || fd == 0) {
        LastError = WSAEINVAL;
        return RaiseError(WSAEINVAL, "Dup");
    }
    if (state_ != wsClosed) {
        if (fd_ != INVALID_SOCKET) {
            Unregister();
            if (::close(fd_) < 0) {
                fd_ = INVALID_SOCKET;
                return RaiseError(LastSysError(), "Dup (closesocket)");
            }
            fd_ = INVALID_SOCKET;
        }
        ChangeState(wsClosed);
    }
    DeleteBufferedData();
    fd_ = fd;
    closedFired_ = false;
    readCount_ = 0;
    SetNonBlocking(fd_);
    socklen_t l = sizeof sndBufSize_;
    getsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &sndBufSize_, &l);
    l = sizeof rcvBufSize_;
    getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &rcvBufSize_, &l);
    ApplyLinger();
    if (ComponentOptions & wsoTcpNoDelay) {
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    TuneForLocalPeer();
    Register(ioRead | ioPeerClosed);
    ChangeState(wsConnected);
    PostWritable(); // one OnDataSent follows an adoption
}

void TCustomWSocket::Connect() {
    if (fd_ != INVALID_SOCKET && state_ != wsClosed) return RaiseText("Connect: Socket already in use");
    if (!portAssigned_) return RaiseText("Connect: No Port Specified");
    if (!addrAssigned_) return RaiseText("Connect: No IP Address Specified");
    if (!protoAssigned_) return RaiseText("Connect: No Protocol Specified");
    try {
        ResolveForUse("connect: ", true);
    } catch (const ESocketException&) {
        if (OnError) return;
        throw;
    }
    uint32_t localAddr;
    try {
        localAddr = WSocketResolveHost(localAddr_);
    } catch (const ESocketException& e) {
        return RaiseText(std::string("connect: ") + e.what(), e.ErrorCode);
    }
    DeleteBufferedData();
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        fd_ = INVALID_SOCKET;
        return RaiseError(LastSysError(), "Connect (socket)");
    }
    closedFired_ = false;
    readCount_ = 0;
    ChangeState(wsOpened);
    if (state_ != wsOpened) {
        LastError = WSAEINVAL;
        return RaiseText("Connect (Invalid operation in OnChangeState)", WSAEINVAL);
    }
    int one = 1;
    if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0)
        return RaiseError(LastSysError(), "setsockopt(SO_REUSEADDR)");
    if ((ComponentOptions & wsoTcpNoDelay) &&
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) < 0)
        return RaiseError(LastSysError(), "setsockopt(IPPROTO_TCP, TCP_NODELAY)");
    ApplyLinger();
    if (KeepAliveOnOff != wsKeepAliveOff) {
        if (setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) < 0)
            return RaiseError(LastSysError(), "setsockopt(SO_KEEPALIVE)");
        if (KeepAliveOnOff == wsKeepAliveOnCustom) {
            int idle = std::max(1, KeepAliveTime / 1000), intvl = std::max(1, KeepAliveInterval / 1000);
            setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
            setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof intvl);
        }
    }
    if (localPortRes_.value != 0 || localAddr != htonl(INADDR_ANY)) {
        sockaddr_in la{};
        la.sin_family = AF_INET;
        la.sin_port = htons(uint16_t(localPortRes_.value));
        la.sin_addr.s_addr = localAddr;
        if (bind(fd_, reinterpret_cast<sockaddr*>(&la), sizeof la) < 0) {
            int code = LastSysError();
            LastError = code;
            return RaiseText("winsock.bind failed, error #" + std::to_string(code), code);
        }
        socklen_t l = sizeof la;
        if (getsockname(fd_, reinterpret_cast<sockaddr*>(&la), &l) < 0) {
            int code = LastSysError();
            LastError = code;
            return RaiseText("winsock.getsockname failed, error #" + std::to_string(code), code);
        }
        localPort_ = std::to_string(ntohs(la.sin_port));
        localPortRes_ = {true, ntohs(la.sin_port)};
    }
    remote_.sin_family = AF_INET;
    remote_.sin_port = htons(uint16_t(portRes_.value));
    remote_.sin_addr.s_addr = addrRes_.value;
    Register(ioRead | ioWrite | ioPeerClosed);
    int rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&remote_), sizeof remote_);
    if (rc < 0 && errno != EINPROGRESS && errno != EWOULDBLOCK) {
        int code = LastSysError();
        LastError = code;
        return RaiseError(code, "Connect");
    }
    ChangeState(wsConnecting);
}

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
    if (len > 0) {
        const char* p = static_cast<const char*>(data);
        int left = len;
        while (left > 0) {
            if (chain_.empty() || !chain_.back().Buf || chain_.back().Buf->Room() == 0)
                chain_.push_back(TChainItem{std::make_unique<TBuffer>(BufSize)});
            int n = chain_.back().Buf->Write(p, left);
            p += n;
            left -= n;
        }
    }
    PumpQueued();
    return std::max(len, 0);
}

int64_t TCustomWSocket::SendFile(int fileFd, int64_t offset, int64_t len) {
    if (!CanQueue()) return -1;
    allSent_ = false;
    if (len > 0) {
        TChainItem item;
        item.FileFd = fileFd;
        item.FileOff = offset;
        item.FileLen = len;
        chain_.push_back(std::move(item));
    }
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
        while (!chain_.empty() && chain_.front().Empty()) chain_.pop_front();
        if (fd_ == INVALID_SOCKET || chain_.empty()) {
            allSent_ = true;
            return true;
        }
        TChainItem& front = chain_.front();
        ssize_t sent;
        size_t offered;
        iovec iov[64];
        int cnt = 0;
        if (!front.Buf) {
            off_t off = off_t(front.FileOff);
            offered = size_t(std::min<int64_t>(front.FileLen, int64_t(1) << 30));
            sent = ::sendfile(fd_, front.FileFd, &off, offered);
            if (sent == 0) {
                // The file ended early (it was truncated meanwhile): nothing more to send.
                front.FileLen = 0;
                continue;
            }
        } else {
            // Gather the buffer chunks up to the next file range in one call.
            offered = 0;
            for (auto& item : chain_) {
                if (!item.Buf) break;
                int n;
                const char* p = item.Buf->Peek(n);
                if (n == 0) continue;
                iov[cnt].iov_base = const_cast<char*>(p);
                iov[cnt].iov_len = size_t(n);
                offered += size_t(n);
                if (++cnt == 64) break;
            }
            msghdr msg{};
            msg.msg_iov = iov;
            msg.msg_iovlen = size_t(cnt);
            sent = ::sendmsg(fd_, &msg, MSG_NOSIGNAL);
        }
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
        if (!front.Buf) {
            front.FileOff += sent;
            front.FileLen -= sent;
        } else {
            size_t left = size_t(sent);
            for (auto& item : chain_) {
                if (left == 0 || !item.Buf) break;
                int n = std::min<int>(item.Buf->Unread(), int(std::min<size_t>(left, INT_MAX)));
                item.Buf->Remove(n);
                left -= size_t(n);
            }
        }
        if (OnSendData) OnSendData(*this, int(sent));
        // A partial send means the kernel is full: wait for writability.
        if (size_t(sent) < offered) {
            WantWrite(true);
            return true;
        }
    }
}

int TCustomWSocket::Receive(void* buf, int size) {
    if (fd_ == INVALID_SOCKET) {
        LastError = WSAENOTCONN;
        return -1;
    }
    ssize_t n = ::recv(fd_, buf, size_t(std::max(size, 0)), 0);
    if (n < 0) {
        LastError = LastSysError();
        return -1;
    }
    readCount_ += n;
    return int(n);
}

int TCustomWSocket::RcvdCount() {
    int n = 0;
    if (fd_ == INVALID_SOCKET || ioctl(fd_, FIONREAD, &n) < 0) {
        LastError = fd_ == INVALID_SOCKET ? WSAENOTSOCK : LastSysError();
        return -1;
    }
    return n;
}

void TCustomWSocket::DeleteBufferedData() {
    chain_.clear();
    allSent_ = true;
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
        return;
    }
    if (shutdownSend) ::shutdown(fd_, SHUT_WR);
    DeleteBufferedData(); // nothing queued can leave after the close, and file ranges must not outlive it
    Unregister();
    int rc = ::close(fd_);
    fd_ = INVALID_SOCKET;
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
    }
}

void TCustomWSocket::Close() { InternalClose(true, 0); }

void TCustomWSocket::Abort() {
    DeleteBufferedData();
    InternalClose(false, 0);
}

void TCustomWSocket::Shutdown(int how) {
    if (fd_ == INVALID_SOCKET) return;
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
}

void TCustomWSocket::AssignDefaultValue() {
    remote_ = sockaddr_in{};
    remote_.sin_family = AF_INET;
    addrAssigned_ = false;
    portAssigned_ = false;
    addrRes_ = portRes_ = protoRes_ = localPortRes_ = {};
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
    readCount_ = 0;
    closedFired_ = false;
}

bool TCustomWSocket::PeerName(sockaddr_in& sa, const char* label) {
    if (state_ != wsConnected) return false;
    socklen_t l = sizeof sa;
    if (getpeername(fd_, reinterpret_cast<sockaddr*>(&sa), &l) < 0) {
        RaiseError(LastSysError(), label);
        return false;
    }
    return true;
}

std::string TCustomWSocket::PeerAddr() {
    sockaddr_in sa{};
    if (!PeerName(sa, "GetPeerAddr")) return "error";
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &sa.sin_addr, buf, sizeof buf);
    return buf;
}

std::string TCustomWSocket::PeerPort() {
    sockaddr_in sa{};
    if (!PeerName(sa, "GetPeerPort")) return "error";
    return std::to_string(ntohs(sa.sin_port));
}

std::string TCustomWSocket::BoundAddr() const {
    sockaddr_in sa{};
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    if (SockName(sa) != 0) return "error";
    char buf[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &sa.sin_addr, buf, sizeof buf);
    return buf;
}

std::string TCustomWSocket::BoundPort() const {
    sockaddr_in sa{};
    if (state_ != wsBound && state_ != wsConnected && state_ != wsListening) return "error";
    if (SockName(sa) != 0) return "error";
    return std::to_string(ntohs(sa.sin_port));
}

int TCustomWSocket::SockName(sockaddr_in& addr) const {
    socklen_t l = sizeof addr;
    if (fd_ == INVALID_SOCKET) return WSAENOTSOCK;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &l) < 0) return MapSystemError(errno);
    return 0;
}

// --- notification dispatch --------------------------------------------------

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
        if ((ev & ioRead) && !closed) {
            if (state_ != wsConnected) {
                ChangeState(wsConnected);
                TriggerSessionConnected(0);
                if (fd != fd_) return;
            }
            DoReceiveLoop(0, !(ComponentOptions & wsoNoReceiveLoop));
            if (fd != fd_) return;
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
        bool canClose = true;
        if (OnBgException) {
            try {
                OnBgException(*this, e, canClose);
            } catch (...) {
            }
        }
        if (canClose && fd == fd_) {
            try {
                Abort();
            } catch (...) {
            }
        }
    }
}

void TCustomWSocket::DoConnectComplete(uint16_t err) {
    if (state_ == wsConnected) return;
    if (err == 0) TuneForLocalPeer();
    ChangeState(wsConnected);
    TriggerSessionConnected(err);
    if (err != 0 && state_ != wsClosed) Close();
}

void TCustomWSocket::DoReceiveLoop(uint16_t err, bool receiveLoop) {
    int fd = fd_;
    while (true) {
        LastError = 0;
        if (OnDataAvailable) {
            try {
                TriggerDataAvailable(err);
            } catch (...) {
                return; // an exception from the data handler ends the loop, silently
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

void TCustomWSocket::DoWritable(uint16_t err) {
    int fd = fd_;
    if (!TryToSend() || fd != fd_) return;
    if (allSent_) TriggerDataSent(err);
}

void TCustomWSocket::DoClosedByPeer(uint16_t err) {
    if (state_ == wsConnecting || fd_ == INVALID_SOCKET) return;
    int fd = fd_;
    DoReceiveLoop(0, true);
    if (fd != fd_) return;
    if (!closedFired_) {
        closedFired_ = true;
        TriggerSessionClosed(err);
    }
    if (fd == fd_ && state_ != wsClosed) Close();
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
