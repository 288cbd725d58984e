// Connecting, and the options every connected handle gets.
#include "socket/WSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace nubo {

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
    if (!ApplyConnectOptions() || !BindLocal(localAddr)) return;
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

// The options of a handle about to connect: address reuse, no delay, linger and
// keep-alive. False when one was refused (and reported).
bool TCustomWSocket::ApplyConnectOptions() {
    int one = 1;
    if (setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) < 0) {
        RaiseError(LastSysError(), "setsockopt(SO_REUSEADDR)");
        return false;
    }
    if ((ComponentOptions & wsoTcpNoDelay) && setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) < 0) {
        RaiseError(LastSysError(), "setsockopt(IPPROTO_TCP, TCP_NODELAY)");
        return false;
    }
    ApplyLinger();
    if (KeepAliveOnOff == wsKeepAliveOff) return true;
    if (setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) < 0) {
        RaiseError(LastSysError(), "setsockopt(SO_KEEPALIVE)");
        return false;
    }
    if (KeepAliveOnOff == wsKeepAliveOnCustom) {
        int idle = std::max(1, KeepAliveTime / 1000), intvl = std::max(1, KeepAliveInterval / 1000);
        setsockopt(fd_, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
        setsockopt(fd_, IPPROTO_TCP, TCP_KEEPINTVL, &intvl, sizeof intvl);
    }
    return true;
}

// Binds the chosen local address and port before connecting (with neither chosen the
// system picks them at the connect) and records the port taken. False when refused (and
// reported).
bool TCustomWSocket::BindLocal(uint32_t localAddr) {
    if (localPortRes_.value == 0 && localAddr == htonl(INADDR_ANY)) return true;
    sockaddr_in la{};
    la.sin_family = AF_INET;
    la.sin_port = htons(uint16_t(localPortRes_.value));
    la.sin_addr.s_addr = localAddr;
    const char* failed = nullptr;
    socklen_t l = sizeof la;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&la), sizeof la) < 0)
        failed = "bind";
    else if (getsockname(fd_, reinterpret_cast<sockaddr*>(&la), &l) < 0)
        failed = "getsockname";
    if (failed) {
        int code = LastSysError();
        LastError = code;
        RaiseText(std::string("winsock.") + failed + " failed, error #" + std::to_string(code), code);
        return false;
    }
    localPort_ = std::to_string(ntohs(la.sin_port));
    localPortRes_ = {true, ntohs(la.sin_port)};
    return true;
}

void TCustomWSocket::SetNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
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
    bool local =
        (ntohl(peer.sin_addr.s_addr) >> 24) == 127 || (getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &sl) == 0 &&
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

} // namespace nubo
