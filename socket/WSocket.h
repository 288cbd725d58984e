#pragma once
// Non-blocking TCP socket objects (IPv4 and IPv6) that report readiness, data, completion and
// closing as events on the one event loop, with a send-buffer chain.
//
// Ownership: a socket owns its handle and its chain. Event handlers must not destroy
// the socket that fires them; destroy it later (FreeLater, or a posted call).
// Every operation and every event runs on the loop's thread.

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <string>

#include "platform/UniqueFd.h"
#include "socket/EventLoop.h"
#include "socket/InetAddress.h"
#include "socket/NameResolution.h"
#include "socket/SendChain.h"
#include "socket/SocketErrors.h"
#include "socket/TlsStage.h"

namespace nubo {

enum TSocketState {
    wsInvalidState,
    wsOpened,
    wsBound,
    wsConnecting,
    wsSocksConnected,
    wsConnected,
    wsAccepting,
    wsListening,
    wsClosed
};

enum TWSocketOption : unsigned { wsoNoReceiveLoop = 1, wsoTcpNoDelay = 2 };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TSocketKeepAliveOnOff { wsKeepAliveOff, wsKeepAliveOnCustom, wsKeepAliveOnSystem };

constexpr int INVALID_SOCKET = -1;

// Process-wide limits of the layer.
constexpr int kSendChunkSize = 1460; // default chunk of the send-buffer chain
constexpr int kDiscardReadSize = 1024;

class TCustomWSocket {
public:
    explicit TCustomWSocket(TEventLoop& loop = TEventLoop::Current());
    virtual ~TCustomWSocket();
    TCustomWSocket(const TCustomWSocket&) = delete;
    TCustomWSocket& operator=(const TCustomWSocket&) = delete;

    // --- configuration (setters allowed only in wsClosed) ---
    std::string Name; // component name, for diagnostics
    const std::string& Addr() const { return addr_; }
    void SetAddr(const std::string& v);
    const std::string& Port() const { return port_; }
    void SetPort(const std::string& v);
    const std::string& Proto() const { return proto_; }
    void SetProto(const std::string& v);
    const std::string& LocalAddr() const { return localAddr_; }
    void SetLocalAddr(const std::string& v);
    const std::string& LocalPort() const { return localPort_; }
    void SetLocalPort(const std::string& v);

    int ListenBacklog = 5;
    unsigned ComponentOptions = 0;
    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0;
    TSocketKeepAliveOnOff KeepAliveOnOff = wsKeepAliveOnSystem;
    int KeepAliveTime = 30000;
    int KeepAliveInterval = 1000;
    // Stream listeners normally never reuse addresses; a passive-port listener may.
    bool ListenReuseAddr = false;
    // Size of the chunks of the send-buffer chain (bytes).
    int BufSize = kSendChunkSize;

    // --- state ---
    TSocketState State() const { return state_; }
    int HSocket() const { return fd_; }
    void SetHSocket(int fd); // adopt a handle (see Dup errors)
    // Adopts an owned handle; when adopting fails before the socket holds it, it is closed.
    void SetHSocket(TUniqueFd fd);
    bool AllSent() const { return allSent_; }
    int LastError = 0;
    int64_t ReadCount() const { return readCount_; }
    int RcvdCount();
    virtual std::string PeerAddr();
    std::string PeerPort();
    std::string BoundAddr() const;
    std::string BoundPort() const;
    // The address and port the system bound the socket to; throws ESocketException.
    struct TSockName {
        std::string Addr;
        uint16_t Port = 0;
    };
    TSockName LocalName() const;
    TEventLoop& Loop() const { return loop_; }

    // --- operations ---
    void Listen();
    // The next waiting connection, non-blocking; none (and LastError set) when nothing
    // waits or the accept failed.
    TUniqueFd Accept();
    // Takes one waiting connection through the process's spare descriptor, sends it
    // reply and closes it: how a listener still answers when the descriptor table is
    // full. False when no spare is held or nothing was waiting.
    bool RefusePending(const std::string& reply);
    // Holds the spare descriptor (one per process) that RefusePending uses.
    static void ReserveSpareDescriptor();
    void Connect();
    int Send(const void* data, int len);
    // Queues len bytes of an open file from offset, sent without copying. The caller
    // keeps the descriptor open until OnDataSent or the socket's close.
    int64_t SendFile(int fileFd, int64_t offset, int64_t len);
    int SendStr(const std::string& s);
    int Receive(void* buf, int size);
    void Close();
    void Abort();
    void Shutdown(int how);
    void CloseLater();
    void FreeLater(); // the object deletes itself from the loop; it must be heap-allocated
    // Reading stops until Resume(); a peer's close that comes meanwhile is reported only
    // after the bytes it left have been read.
    void Pause();
    void Resume();
    // The peer ended its sending and left nothing unread: what a paused socket does not
    // hear of until it resumes.
    bool PeerClosed() const;

    // --- TLS ---
    // Makes this connected socket the server side of a TLS connection. The handshake
    // begins once everything queued so far has been sent; until it completes nothing is
    // read, sent or reported. OnTlsDone tells its end: 0, or an error number, after
    // which the socket is closed. Afterwards the events carry plaintext as before.
    // sessionMark: what its sessions carry (another connection's, to be resumed); empty:
    // a new one.
    void StartTls(SSL_CTX* ctx, std::string sessionMark = {});
    bool TlsOn() const { return tls_ || tlsStart_; }
    TTlsStage* Tls() const { return tls_.get(); }
    bool TlsHandshaking() const { return Handshaking() || tlsStart_; }

    // --- events ---
    std::function<void(TCustomWSocket&, uint16_t)> OnSessionAvailable;
    std::function<void(TCustomWSocket&, uint16_t)> OnSessionConnected;
    std::function<void(TCustomWSocket&, uint16_t)> OnSessionClosed;
    std::function<void(TCustomWSocket&, uint16_t)> OnDataAvailable;
    std::function<void(TCustomWSocket&, uint16_t)> OnDataSent;
    std::function<void(TCustomWSocket&, int)> OnSendData;
    std::function<void(TCustomWSocket&, TSocketState, TSocketState)> OnChangeState;
    std::function<void(TCustomWSocket&)> OnError;
    // An exception that one of this socket's handlers let out, for the host to log. The
    // flag says whether the socket is aborted afterwards: true when it came from a
    // readiness event, false when from OnDataAvailable (reading stops for this round).
    std::function<void(TCustomWSocket&, const std::exception&, bool&)> OnBgException;
    std::function<void(TCustomWSocket&, uint16_t)> OnTlsDone;

protected:
    // Hooks for derived classes; the defaults fire the events above.
    virtual void TriggerDataAvailable(uint16_t err);
    virtual void TriggerSessionClosed(uint16_t err);
    virtual void TriggerDataSent(uint16_t err);
    virtual void TriggerSessionConnected(uint16_t err);
    virtual void AssignDefaultValue();
    bool destroying_ = false;

private:
    int SockName(TInetAddress& addr) const; // 0 or the socket error number
    void CheckAdoptable(int fd);
    void CloseForAdoption();
    void InstallHandle(int fd);
    struct Resolved {
        bool ok = false;
        uint32_t value = 0;
    };
    struct ResolvedAddr {
        bool ok = false;
        TInetAddress value;
    };
    void ChangeState(TSocketState s);
    void RaiseError(int code, const std::string& label);  // "Error N in function Label"
    void RaiseText(const std::string& msg, int code = 0); // fixed-text error
    void SetNonBlocking(int fd);
    void Register(uint32_t events);
    void Unregister();
    void WantWrite(bool on);
    void PostWritable();
    void HandleEvents(int fd, uint32_t events);
    void ReportBgException(const std::exception& e, int fd, bool canClose);
    void DoConnectComplete(uint16_t err);
    void DoReceiveLoop(uint16_t err, bool receiveLoop);
    void DoWritable(uint16_t err);
    void DoClosedByPeer(uint16_t err);
    bool TryToSend();
    void InternalClose(bool shutdownSend, uint16_t err);
    void DeleteBufferedData();
    void ApplyLinger();
    bool ApplyConnectOptions();
    bool BindLocal(TInetAddress local);
    void ResolveForUse(const char* prefix, bool withLocal);
    void CheckClosedFor(const char* what) const;
    void Assign(const char* what, const std::string& v, std::string& field, bool& assigned, bool& resolved);
    void ConnectionLost(int code);
    bool PeerName(TInetAddress& sa, const char* label);
    bool CanQueue();
    void PumpQueued();
    int64_t SendOnce(size_t& offered);
    void BeginTls();
    void DriveHandshake();
    bool Handshaking() const { return tls_ && !tls_->Established(); }
    void PostReadable();
    void PostPeerClosed();
    void PostForHandle(std::function<void(int fd)> step);
    void DropTls();
    int ReceivePlain(char* buf, int size);

    TEventLoop& loop_;
    std::shared_ptr<char> alive_; // guards posted calls
    int fd_ = INVALID_SOCKET;
    TSocketState state_ = wsClosed;
    uint64_t token_ = 0;
    uint32_t events_ = 0;
    bool paused_ = false;
    bool closeOwed_ = false; // the peer's end came while paused, with bytes left to read
    bool allSent_ = true;
    bool closedFired_ = false;
    int64_t readCount_ = 0;
    TSendChain chain_;
    std::unique_ptr<TTlsStage> tls_;
    SSL_CTX* tlsStart_ = nullptr; // a TLS start that waits for the queue to drain
    std::string tlsMark_;
    bool dataSentOwed_ = false;  // OnDataSent held back by the handshake
    bool tlsPeerClosed_ = false; // the peer's close alert came

    std::string addr_, port_, proto_ = "tcp", localAddr_ = "0.0.0.0", localPort_ = "0";
    bool addrAssigned_ = false, portAssigned_ = false, protoAssigned_ = true;
    ResolvedAddr addrRes_;
    Resolved portRes_, protoRes_, localPortRes_;
    TInetAddress remote_;
};

class TWSocket : public TCustomWSocket {
public:
    using TCustomWSocket::TCustomWSocket;
};

// The address text of a connected descriptor's peer (an IPv4-mapped one as IPv4); empty
// when it has none (the peer is already gone).
std::string PeerAddrOf(const TUniqueFd& fd);

} // namespace nubo
