#pragma once
// One client's control connection: assembles command lines, sends the greeting and
// replies, and holds everything the engine and the host know about the client.
// Owned by the TFtpServer that accepted it; freed only by the server's close message.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/CommandText.h"
#include "engine/FileDigest.h"
#include "engine/FtpCommandCode.h"
#include "engine/ListingText.h"
#include "engine/PathRules.h"
#include "engine/RateGate.h"
#include "platform/Stream.h"
#include "socket/WSocket.h"

namespace nubo {

enum TFtpCtrlState { ftpcInvalid, ftpcWaitingUserCode, ftpcWaitingPassword, ftpcReady, ftpcWaitingAnswer };

class EFtpCtrlSocketException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The data channel of one PASV or PORT: the passive listener and its connection.
struct TDataChannelState {
    bool DataOpen = false; // a transfer's data connection is up
    bool PassiveOn = false;
    uint64_t PasvListenTick = 0; // when the passive listener opened
    // The passive pool's port this connection holds until its listener is gone; 0 for none.
    int PasvPort = 0;
    bool PassivePending = false; // a transfer command waits for the passive connection
    bool PassiveLinked = false;  // the passive connection was accepted
    // Counts the data channel's lives (a listener, a connection); a posted message for
    // the channel carries the count and is dropped when the channel has moved on.
    uint32_t DataSession = 0;
    std::string ActiveAddr, ActivePort;
    bool EpsvAll = false; // EPSV ALL: no other command sets up a data connection

    // The channel's life is over: nothing is open, linked or awaited (the pool port is
    // given back by the server before).
    void EndChannel() {
        ++DataSession;
        DataOpen = PassiveOn = PassivePending = PassiveLinked = false;
    }
};

// The transfer on the data channel, from its command to its reply.
struct TTransferState {
    std::string TransferName;
    std::string TransferPath;
    // Code of the command that started the running transfer: its end reply and its
    // file opening follow that command, whatever was received meanwhile.
    TFtpCommandCode XferCommandCode = TFtpCommandCode::Port;
    bool AbortFlag = false;
    // The running transfer was ended by the client's ABOR (its reply is then "426").
    bool AbortedByClient = false;
    std::string EndReason;
    bool EofPosted = false;
    bool StartPending = false; // a download answered 150 whose sending has not begun
    int64_t TransferBytes = 0;
    int64_t RestartOffset = 0;
    bool RestPending = false; // a REST given since the last transfer command took one
    uint64_t XferStartTick = 0;
    // Block buffer of the running transfer, allocated when a transfer needs it.
    std::vector<char> XferBuffer;
    // The running transfer's place at its account's speed limit; joined when its data
    // connection opens, left when it ends.
    TRateWaiter XferWaiter;

    // A transfer command opens its channel: nothing of the last transfer's end remains.
    void BeginTransfer(TFtpCommandCode code) {
        AbortFlag = AbortedByClient = EofPosted = false;
        EndReason = "Transfer Ok";
        XferCommandCode = code;
    }
};

// What the host keeps of the logged-in session.
// The connection's TLS: what the client asked for its data connections.
struct TTlsSessionState {
    bool PbszSet = false;       // PBSZ came after TLS was up
    bool ProtectData = false;   // PROT P: data connections under TLS
    bool TlsAfterReply = false; // AUTH agreed: TLS starts once its reply is out
    uint64_t DataTlsTick = 0;   // when the data connection's handshake began
};

struct THostSession {
    bool LoggedIn = false;
    // The host granted a download or upload and counts it until its session ends.
    bool RetrInProgress = false;
    bool StorInProgress = false;
    int64_t TotalUpload = 0;
    int64_t TotalDownload = 0;

    void EndGrant() { RetrInProgress = StorInProgress = false; }
};

class TFtpCtrlSocket : public TCustomWSocket,
                       public TDataChannelState,
                       public TTransferState,
                       public TTlsSessionState,
                       public THostSession {
public:
    explicit TFtpCtrlSocket(TEventLoop& loop = TEventLoop::Current());
    ~TFtpCtrlSocket() override;

    // --- properties ---
    TFtpCtrlState FtpState = ftpcInvalid;
    std::string Banner = "Nubo FTP Server ready";
    int RcvSize() const { return rcvSize_; }
    void SetRcvSize(int size);
    std::string UserName;
    std::string PassWord;
    // One assembled command line; buf[len] is a zero byte while the event runs.
    std::function<void(TFtpCtrlSocket&, const char* buf, int len)> OnCommand;

    // --- fields ---
    std::unique_ptr<TWSocket> DataChannel;
    int LineFill = 0;
    uint64_t GreetingTick = 0;
    uint64_t ActivityTick = 0;
    bool CloseWhenSent = false;
    std::string HomePath = "C:\\TEMP\\";
    std::string CurrentDir = "C:\\TEMP\\";
    int ConnectionId = 0;
    bool BinaryType = false;
    TFtpCommandCode LastCommandCode = TFtpCommandCode::Port;
    std::string RenameSource;
    std::string RenameTarget;
    // A name of this session was not UTF-8 and was read as CP949 (told to the host once).
    bool NamesFromCp949 = false;
    // What the client chose with OPTS: UTF8 ON (OFF clears it), and the algorithm of HASH.
    bool Utf8Mode = false;
    TDigestAlgorithm HashAlgorithm = TDigestAlgorithm::Sha256;
    // The account's speed limits for downloads and uploads, shared by all its sessions;
    // set by the host at login, none when the account has no limit.
    std::shared_ptr<TRateGate> DownGate, UpGate;

    // The stream of the transfer: one the engine opened (a file, a listing), owned here
    // and freed when its data session ends, or a listing the host lends, which the host
    // frees and the engine only reads.
    TStream* TransferStream() const { return ownStream_ ? ownStream_.get() : lentStream_; }
    void OwnStream(std::unique_ptr<TStream> stream);
    void LendStream(TStream* stream);
    // Frees the engine's own stream; a lent one stays until the next transfer replaces it.
    void ReleaseOwnedStream() { ownStream_.reset(); }
    // Forgets any stream: the own one is freed, a lent one is left to its owner.
    void DropStream();

    // The client's address, cached when the handle is assigned: still valid after close.
    std::string PeerAddr() override { return peerAddr_; }
    void AssignHandle(TUniqueFd fd);

    void SendGreeting();
    void SendAnswer(const std::string& line); // line + CR LF
    virtual void ChangeDir(const std::string& newDir);
    void SetAbortFlag(bool v) { AbortFlag = v; }
    void RefreshActivity();

    // A command whose reply comes later (a long digest) holds the command lines after it,
    // so that replies keep their order. The connection owns Work, the job that replies,
    // until ReleaseCommands(), which then goes on with the held lines.
    void HoldCommands(std::shared_ptr<void> work);
    void ReleaseCommands();
    bool CommandsHeld() const { return heldBy_ != nullptr; }
    // The lines received behind the one being handled are dropped once it is done.
    void DropPendingLines() { dropPending_ = true; }

private:
    void ReceiveLines();
    void DispatchLines();
    bool DropLine(int len, char saved, int c);
    std::shared_ptr<void> heldBy_;
    bool dropPending_ = false;
    std::unique_ptr<TStream> ownStream_;
    TStream* lentStream_ = nullptr;
    std::unique_ptr<char[]> lineBuffer_;
    int rcvSize_ = 0;
    std::string peerAddr_;
};

// The temporary change of directory that file commands make before resolving an
// argument with a folder part; the remembered directory comes back on every exit.
class TTempDirStep {
public:
    TTempDirStep(TFtpCtrlSocket& client, const std::string& arg);
    ~TTempDirStep();
    TTempDirStep(const TTempDirStep&) = delete;
    TTempDirStep& operator=(const TTempDirStep&) = delete;

private:
    TFtpCtrlSocket& client_;
    std::string saved_;
};

} // namespace nubo
