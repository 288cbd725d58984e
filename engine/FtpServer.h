#pragma once
// The FTP server component: listening socket, connection list, command table and
// dispatch, replies, private messages. It decides nothing about who may do what:
// every decision of policy is an event whose in/out parameters the host sets.
//
// Must be used on the event loop's thread. Connections are freed only from the
// posted client-closed message (or DropAllClients), never inside their own events.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/FtpCtrlSocket.h"
#include "platform/Stream.h"
#include "platform/Text.h"
#include "socket/WSocket.h"

namespace nubo {

class FtpServerException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// A command's file or folder does not exist (or is not the client's to see): answered
// with 550 before any data connection opens.
class ENoSuchEntry : public FtpServerException {
public:
    using FtpServerException::FtpServerException;
};
// A restart offset beyond the end of the file: answered with 554 before any data
// connection opens (a download would send nothing, an upload would leave a hole).
class ERestartBeyondEnd : public FtpServerException {
public:
    using FtpServerException::FtpServerException;
};
class ERangeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TFtpsOption : unsigned { ftpsCwdCheck = 1, ftpsCdupHome = 2 };

class TFtpServer;

// Event types; every reference parameter is in/out.
using TFtpSrvNotifyEvent = std::function<void(TFtpServer& Sender)>;
using TFtpSrvClientConnectEvent = std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, int AError)>;
using TFtpSrvClientCommandEvent = std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& Keyword,
                                                     TFtpString& Params, TFtpString& Answer)>;
using TFtpSrvAnswerToClientEvent = std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& Answer)>;
using TFtpSrvAuthenticateEvent =
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, const TFtpString& UserName,
                       const TFtpString& Password, bool& Authenticated)>;
using TFtpSrvChangeDirectoryEvent =
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, const TFtpString& Directory, bool& Allowed)>;
using TFtpSrvBuildDirectoryEvent =
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& Directory, TListingKind Kind)>;
using TFtpSrvDataSessionConnectedEvent =
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data, int AError)>;
using TFtpSrvRetrDataSentEvent = TFtpSrvDataSessionConnectedEvent;
using TFtpSrvValidateXferEvent =
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath, bool& Allowed)>;
using TFtpSrvDataAvailableEvent = std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TWSocket& Data,
                                                     const char* Buf, int Len, int AError)>;
using TFtpSrvGetUniqueFileNameEvent =
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FileName)>;
using TFtpSrvGetProcessingEvent = std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, bool& DelayedSend)>;
using TFtpSrvBuildFilePathEvent =
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, const TFtpString& Directory,
                       const TFtpString& FileName, TFtpString& NewFileName)>;
using TFtpSrvCalculateMd5Event = std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client, TFtpString& FilePath,
                                                    TFtpString& Md5Sum, bool& Allowed)>;

// The private messages of the server.
enum TFtpSrvMessage { MsgCloseRequest = 0x401, MsgClientClosed, MsgAbortData, MsgCloseData, MsgStartSend, MsgLinkLost };

class TFtpServer {
public:
    using TFtpSrvCommandProc = void (TFtpServer::*)(TFtpCtrlSocket& Client, TFtpString& Keyword, TFtpString& Params,
                                                    TFtpString& Answer);
    using TConnectionFactory = std::function<std::unique_ptr<TFtpCtrlSocket>(TFtpServer&)>;

    explicit TFtpServer(TEventLoop& loop = TEventLoop::Current());
    virtual ~TFtpServer();
    TFtpServer(const TFtpServer&) = delete;
    TFtpServer& operator=(const TFtpServer&) = delete;

    // --- properties ---
    std::string Name = "FtpServer";
    // The listeners' address; empty: every address of both families.
    std::string Addr;
    std::string Port = "ftp";
    std::string Banner = "Nubo FTP Server (Version %s)";
    int UserData = 0;
    int MaxClients = 0;
    // The IPv4 address PASV announces to clients outside the local network (a router's
    // public address); empty: the control connection's local address for everyone.
    std::string PasvIpAddr;
    unsigned Options = 0;
    int PasvPortRangeStart() const { return pasvStart_; }
    void SetPasvPortRangeStart(int v);
    int PasvPortRangeSize() const { return int(pasvInUse_.size()); }
    void SetPasvPortRangeSize(int v);
    // Block size of file transfers (the control line keeps RcvSize).
    int XferBlockSize = 256 * 1024;
    // Seconds a passive listener waits for its client before its port goes back to
    // the pool (0: forever).
    int PasvTimeoutSec = 30;
    // The TLS of AUTH TLS and PROT P; none: the commands are unknown, as without TLS.
    SSL_CTX* TlsContext = nullptr;
    // Logins only on an encrypted control connection, data only with PROT P.
    bool TlsRequired = false;
    // The port of implicit TLS (encrypted from the first byte); empty or "0": none.
    std::string ImplicitTlsPort;
    TConnectionFactory ConnectionClass;

    // --- operations ---
    void Start();
    void Stop();
    bool Listening() const { return listener_->State() == wsListening; }
    void DropAllClients();
    int ConnectionCount() const { return int(clients_.size()); }
    TFtpCtrlSocket* Connection(int index) const;
    // Syntax: the one line HELP gives for the command (empty: the keyword alone).
    void RegisterCommand(const std::string& keyword, TFtpSrvCommandProc proc, const std::string& syntax = "");
    void SendReply(TFtpCtrlSocket& Client, TFtpString Answer);
    // The end of a PASS that OnAuthenticate held: the reply, then the held command lines;
    // with CloseAfter, the reply and then the close, the held lines never run.
    void FinishLogin(TFtpCtrlSocket& Client, bool Authenticated, bool CloseAfter = false);
    // Local path of a client's file argument (path rules of the working directory).
    virtual std::string ResolveFilePath(TFtpCtrlSocket& Client, const std::string& Directory,
                                        const std::string& FileName);
    void PostMsg(TFtpSrvMessage msg, TFtpCtrlSocket& Client);
    // Reports the exception being handled to OnCaughtError; only inside a catch block.
    void ReportCaught(const char* where) noexcept;
    void ReportError(const std::string& where, const std::string& what) noexcept;
    // What a socket's handler lets out is reported as a caught error of `where`.
    void ReportBackground(TCustomWSocket& socket, const char* where);
    TWSocket& ListenSocket() { return *listener_; }
    TEventLoop& Loop() const { return loop_; }

    // --- events ---
    TFtpSrvNotifyEvent OnStart, OnStop;
    // New connections cannot be taken (out of descriptors or memory): once when it
    // begins, with the socket error; again with 0 when connections are taken again.
    std::function<void(TFtpServer& Sender, int AError)> OnAcceptTrouble;
    // An error the engine caught and went on after (a failing handler, a close that
    // failed): where it happened and what it said, for the operator's log.
    std::function<void(TFtpServer& Sender, const std::string& Where, const std::string& What)> OnCaughtError;
    TFtpSrvClientConnectEvent OnClientConnect, OnClientDisconnect;
    // A control connection's TLS handshake ended: AError 0, or the error after which the
    // connection closes (Client.Tls() still tells what happened).
    TFtpSrvClientConnectEvent OnClientSecured;
    TFtpSrvClientCommandEvent OnClientCommand;
    // The client's first argument that was not UTF-8 was read as CP949: once a session,
    // since an older client sends all its names that way.
    std::function<void(TFtpServer& Sender, TFtpCtrlSocket& Client)> OnNamesFromCp949;
    TFtpSrvAnswerToClientEvent OnAnswerToClient;
    // Decides PASS. A handler that needs time (a slow password hash) holds the client's
    // commands (Client.HoldCommands) and leaves Authenticated false; it later calls
    // FinishLogin, which replies and goes on with the held lines.
    TFtpSrvAuthenticateEvent OnAuthenticate;
    TFtpSrvChangeDirectoryEvent OnChangeDirectory, OnMakeDirectory;
    TFtpSrvBuildFilePathEvent OnBuildFilePath;
    TFtpSrvValidateXferEvent OnValidateSize, OnValidateDele, OnValidateRmd, OnValidateRnFr, OnValidateRnTo,
        OnValidateMfmt, OnValidatePut, OnValidateGet;
    // Decides every digest command (MD5, HASH, the X forms); a sum it gives is an MD5 sum
    // and answers the MD5 command without reading the file.
    TFtpSrvCalculateMd5Event OnCalculateMd5;
    TFtpSrvGetUniqueFileNameEvent OnGetUniqueFileName;
    TFtpSrvGetProcessingEvent OnGetProcessing;
    TFtpSrvDataSessionConnectedEvent OnStorSessionConnected, OnStorSessionClosed, OnRetrSessionConnected,
        OnRetrSessionClosed;
    TFtpSrvDataAvailableEvent OnStorDataAvailable;
    TFtpSrvRetrDataSentEvent OnRetrDataSent;
    TFtpSrvBuildDirectoryEvent OnBuildDirectory, OnAlterDirectory;

    // --- command handlers (one per table slot; XMKD, XRMD, MFMT and the X digests share) ---
    virtual void CommandPORT(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandSTOR(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandRETR(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandCWD(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandXPWD(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandPWD(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandUSER(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandPASS(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandLIST(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandNLST(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandTYPE(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandSYST(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandQUIT(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandDELE(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandSIZE(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandREST(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandRNFR(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandRNTO(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandMKD(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandRMD(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandABOR(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandPASV(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandEPSV(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandEPRT(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandNOOP(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandCDUP(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandAPPE(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandSTRU(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandMDTM(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandMODE(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandOVER(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandSTOU(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandFEAT(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandMLST(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandMLSD(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandAUTH(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandPBSZ(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandPROT(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandCCC(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandMD5(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandOPTS(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandHELP(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    virtual void CommandHASH(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);
    // XSHA256, XSHA1, XMD5 and XCRC: the keyword names the algorithm.
    virtual void CommandXDIGEST(TFtpCtrlSocket&, TFtpString&, TFtpString&, TFtpString&);

    // The lines of the FEAT reply, without their leading blank: what this server and this
    // session offer (the HASH line marks the session's algorithm).
    std::vector<std::string> FeatureLines(const TFtpCtrlSocket& Client) const;

protected:
    // The login guard: false (and the 530 reply in Answer) when not logged in.
    static bool CheckLoggedIn(TFtpCtrlSocket& Client, TFtpString& Answer);
    // Without TLS the TLS commands are answered as unknown; false then.
    bool CheckTlsOffered(const TFtpString& Keyword, TFtpString& Answer) const;
    // A transfer or listing when data must be protected and PROT P was not given: 521.
    bool CheckDataProtection(TFtpCtrlSocket& Client, TFtpString& Answer);
    // A data connection of a PROT P session begins its TLS handshake.
    void ProtectChannel(TFtpCtrlSocket& Client, TCustomWSocket& data);
    void SecureControl(TFtpCtrlSocket& Client);
    void CheckDataResumption(TFtpCtrlSocket& Client, TCustomWSocket& data);
    void RefuseDataChannel(TFtpCtrlSocket& Client, TCustomWSocket& data, const std::string& reason);
    // Fires a validation event with Allowed entering True; returns Allowed.
    bool Validate(const TFtpSrvValidateXferEvent& ev, TFtpCtrlSocket& Client, TFtpString& FilePath);
    // Private message handlers.
    virtual void HandleMessage(TFtpSrvMessage msg, int id, uint32_t dataSession, TFtpCtrlSocket* client);
    void ClientDataSent(TFtpCtrlSocket& Client);
    // --- data connections ---
    void OpenStorChannel(TFtpCtrlSocket& Client);
    void OpenRetrChannel(TFtpCtrlSocket& Client);
    std::string TakePasvPort();
    // FreePasvPort gives the connection's pool port back (none held: nothing happens);
    // LeavePassive also ends passive mode.
    void FreePasvPort(TFtpCtrlSocket& Client);
    void LeavePassive(TFtpCtrlSocket& Client);
    void FreePoolPort(int port);
    void ListenOnPoolPort(TFtpCtrlSocket& Client, TWSocket& data);
    std::string ListenAddr() const;
    // PASV (extended: EPSV, for the family "1" or "2" when one is asked for): a pool
    // port's listener, announced in Answer, or the refusal of a family it cannot serve.
    void OpenPassive(TFtpCtrlSocket& Client, bool extended, const std::string& family, TFtpString& Answer);
    bool SetActiveAddress(TFtpCtrlSocket& Client, const std::string& addr, uint64_t port);
    static bool RefusedAfterEpsvAll(TFtpCtrlSocket& Client, TFtpString& Answer);
    virtual void StartSend(TFtpCtrlSocket& Client);
    virtual void AbortData(TFtpCtrlSocket& Client);
    virtual void CloseData(TFtpCtrlSocket& Client);
    void LinkLost(TFtpCtrlSocket& Client);
    // The listing of NLST, LIST or MLSD into Stream; ENoSuchEntry when its target is missing.
    void BuildListing(TFtpCtrlSocket& Client, const std::string& Argument, TListingKind Kind, TStream& Stream);

private:
    enum class TDataHandlers { None, Stor, Retr };
    void SetDataHandlers(TFtpCtrlSocket& Client, TDataHandlers set);
    void ArmChannel(TFtpCtrlSocket& Client, TDataHandlers set);
    bool PrepareUpload(TFtpCtrlSocket& Client, const TFtpString& Params);
    void ClientPassiveSessionAvailable(TFtpCtrlSocket& Client);
    void ClientStorSessionConnected(TFtpCtrlSocket& Client, uint16_t AError);
    void ClientStorDataAvailable(TFtpCtrlSocket& Client, uint16_t AError);
    void ClientStorSessionClosed(TFtpCtrlSocket& Client, uint16_t AError);
    void ClientRetrSessionConnected(TFtpCtrlSocket& Client, uint16_t AError);
    void ClientRetrDataSent(TFtpCtrlSocket& Client, uint16_t AError);
    void ClientRetrSessionClosed(TFtpCtrlSocket& Client, uint16_t AError);
    void SendNextBlock(TFtpCtrlSocket& Client);
    void EndDataSession(TFtpCtrlSocket& Client);
    void FailTransfer(TFtpCtrlSocket& Client, const std::string& reason);
    // After a refused or failed transfer command: the host's grant ends, and in passive
    // mode the listener, or the connection the client made, closes without a reply.
    void DisarmPassive(TFtpCtrlSocket& Client, const std::string& Answer);
    void ListingCommand(TFtpCtrlSocket& Client, TFtpString& Params, TFtpString& Answer, TListingKind Kind);
    std::string PassiveReplyAddress(TFtpCtrlSocket& Client, const std::string& local);

private:
    struct TCommandSlot {
        std::string Keyword;
        TFtpSrvCommandProc Proc = nullptr;
        std::string Syntax;
    };
    static constexpr int kMaxCommands = 64;

    void ServerSessionAvailable(TWSocket& listener, uint16_t err);
    void AcceptFailed(TWSocket& listener);
    void StartImplicitTls();
    void SweepPassive();
    void TimeOutPassive(TFtpCtrlSocket& Client);
    // reply: what the client is told; empty when it has already moved on.
    void CancelPendingTransfer(TFtpCtrlSocket& Client, const std::string& reply);
    static bool AwaitsConnection(const TFtpCtrlSocket& Client);
    void DropPassive(TFtpCtrlSocket& Client);
    void ServerChangeState(TSocketState newState);
    void ClientCommand(TFtpCtrlSocket& Client, const char* buf, int len);
    void RemoveClient(TFtpCtrlSocket* client);
    bool IsListed(TFtpCtrlSocket* client, int id) const;

    TEventLoop& loop_;
    std::shared_ptr<char> alive_;
    bool destroying_ = false;
    std::unique_ptr<TWSocket> listener_;
    std::unique_ptr<TWSocket> implicitListener_;
    TLoopTimer acceptRetry_, passiveSweep_;
    bool acceptTrouble_ = false;
    std::vector<std::unique_ptr<TFtpCtrlSocket>> clients_;
    int connectionCounter_ = 0;
    std::array<TCommandSlot, kMaxCommands> commands_;
    int commandCount_ = 0;
    int pasvStart_ = 0;
    std::vector<uint8_t> pasvInUse_;
};

} // namespace nubo
