// Listening, taking connections, and adopting a connected handle.
#include "socket/WSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nubo {

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
    TInetAddress sa = addrRes_.value;
    sa.SetPort(uint16_t(portRes_.value));
    fd_ = ::socket(sa.Family(), SOCK_STREAM, 0);
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
    // The IPv6 wildcard takes IPv4 clients too (one listener for both families); a given
    // IPv6 address takes only its own family, whatever the system's default.
    if (sa.Family() == AF_INET6) {
        const int only = sa.IsAny() ? 0 : 1;
        if (setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) < 0)
            return RaiseError(LastSysError(), "setsockopt(IPV6_V6ONLY)");
    }
    if (bind(fd_, sa.Raw(), sa.Length()) < 0) {
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
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    TUniqueFd fd(::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (fd) remote_ = TInetAddress(reinterpret_cast<sockaddr*>(&peer), len);
    if (!fd) {
        int code = LastSysError();
        LastError = code;
        if (code != WSAEWOULDBLOCK) RaiseError(code, "Accept");
    }
    return fd;
}

std::string PeerAddrOf(const TUniqueFd& fd) {
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    if (getpeername(fd.Get(), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return "";
    return TInetAddress(reinterpret_cast<sockaddr*>(&peer), len).Text();
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
    CheckAdoptable(fd);
    CloseForAdoption();
    InstallHandle(fd);
}

void TCustomWSocket::SetHSocket(TUniqueFd fd) {
    CheckAdoptable(fd.Get());
    CloseForAdoption();
    InstallHandle(fd.Release());
}

void TCustomWSocket::CheckAdoptable(int fd) {
    if (fd == INVALID_SOCKET || fd == 0) {
        LastError = WSAEINVAL;
        return RaiseError(WSAEINVAL, "Dup");
    }
}

// The handle held before an adoption is closed first.
void TCustomWSocket::CloseForAdoption() {
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
}

void TCustomWSocket::InstallHandle(int fd) {
    DeleteBufferedData();
    DropTls();
    fd_ = fd;
    closedFired_ = false;
    readCount_ = 0;
    SetNonBlocking(fd_);
    ApplyLinger();
    if (ComponentOptions & wsoTcpNoDelay) {
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    Register(ioRead | ioPeerClosed);
    ChangeState(wsConnected);
    PostWritable(); // one OnDataSent follows an adoption
}

} // namespace nubo
