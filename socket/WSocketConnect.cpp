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
    remote_ = addrRes_.value;
    remote_.SetPort(uint16_t(portRes_.value));
    TInetAddress local;
    try {
        local = WSocketResolveHost(localAddr_);
    } catch (const ESocketException& e) {
        return RaiseText(std::string("connect: ") + e.what(), e.ErrorCode);
    }
    // The default local address is IPv4's wildcard: it stands for any address of the
    // family the remote one has.
    if (local.IsAny() && local.Family() != remote_.Family()) local = TInetAddress::Any(remote_.Family());
    DeleteBufferedData();
    fd_ = ::socket(remote_.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
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
    if (!ApplyConnectOptions() || !BindLocal(local)) return;
    Register(ioRead | ioWrite | ioPeerClosed);
    int rc = ::connect(fd_, remote_.Raw(), remote_.Length());
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
bool TCustomWSocket::BindLocal(TInetAddress local) {
    if (localPortRes_.value == 0 && local.IsAny()) return true;
    local.SetPort(uint16_t(localPortRes_.value));
    const char* failed = nullptr;
    if (bind(fd_, local.Raw(), local.Length()) < 0)
        failed = "bind";
    else if (SockName(local) != 0)
        failed = "getsockname";
    if (failed) {
        int code = LastSysError();
        LastError = code;
        RaiseText(std::string("winsock.") + failed + " failed, error #" + std::to_string(code), code);
        return false;
    }
    localPort_ = std::to_string(local.Port());
    localPortRes_ = {true, local.Port()};
    return true;
}

void TCustomWSocket::SetNonBlocking(int fd) {
    int fl = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, fl | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
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
