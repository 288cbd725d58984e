#include "engine/FtpServer.h"

#include <algorithm>

namespace nubo {

namespace {
// The server's own listener asks for the largest backlog the system grants, so that
// a burst of connecting clients is never dropped by the kernel.
constexpr int kServerBacklog = 65535;
} // namespace

TFtpServer::TFtpServer(TEventLoop& loop)
    : loop_(loop), alive_(std::make_shared<char>(0)), acceptRetry_(loop), passiveSweep_(loop) {
    listener_ = std::make_unique<TWSocket>(loop);
    listener_->Name = "ServerWSocket";
    ReportBackground(*listener_, "listener");
    implicitListener_ = std::make_unique<TWSocket>(loop);
    implicitListener_->Name = "ImplicitTlsWSocket";
    ReportBackground(*implicitListener_, "implicit TLS listener");
    ConnectionClass = [](TFtpServer& s) { return std::make_unique<TFtpCtrlSocket>(s.Loop()); };

    // The command table, with the syntax line HELP gives for each command.
    struct TBuiltIn {
        const char* Keyword;
        TFtpSrvCommandProc Proc;
        const char* Syntax;
    };
    const TBuiltIn table[] = {
        {"PORT", &TFtpServer::CommandPORT, "PORT <sp> h1,h2,h3,h4,p1,p2"},
        {"STOR", &TFtpServer::CommandSTOR, "STOR <sp> file-name"},
        {"RETR", &TFtpServer::CommandRETR, "RETR <sp> file-name"},
        {"CWD", &TFtpServer::CommandCWD, "CWD <sp> folder-name"},
        {"XPWD", &TFtpServer::CommandXPWD, "XPWD (print the working folder)"},
        {"PWD", &TFtpServer::CommandPWD, "PWD (print the working folder)"},
        {"USER", &TFtpServer::CommandUSER, "USER <sp> user-name"},
        {"PASS", &TFtpServer::CommandPASS, "PASS <sp> password"},
        {"LIST", &TFtpServer::CommandLIST, "LIST [<sp> path]"},
        {"NLST", &TFtpServer::CommandNLST, "NLST [<sp> path]"},
        {"TYPE", &TFtpServer::CommandTYPE, "TYPE <sp> A | A N | I"},
        {"SYST", &TFtpServer::CommandSYST, "SYST (the system type)"},
        {"QUIT", &TFtpServer::CommandQUIT, "QUIT (end the session)"},
        {"DELE", &TFtpServer::CommandDELE, "DELE <sp> file-name"},
        {"SIZE", &TFtpServer::CommandSIZE, "SIZE <sp> file-name"},
        {"REST", &TFtpServer::CommandREST, "REST <sp> offset"},
        {"RNFR", &TFtpServer::CommandRNFR, "RNFR <sp> file-name"},
        {"RNTO", &TFtpServer::CommandRNTO, "RNTO <sp> file-name"},
        {"MKD", &TFtpServer::CommandMKD, "MKD <sp> folder-name"},
        {"RMD", &TFtpServer::CommandRMD, "RMD <sp> folder-name"},
        {"ABOR", &TFtpServer::CommandABOR, "ABOR (abort the transfer)"},
        {"PASV", &TFtpServer::CommandPASV, "PASV (enter passive mode, IPv4)"},
        {"EPSV", &TFtpServer::CommandEPSV, "EPSV [<sp> 1 | 2 | ALL]"},
        {"EPRT", &TFtpServer::CommandEPRT, "EPRT <sp> |family|address|port|"},
        {"NOOP", &TFtpServer::CommandNOOP, "NOOP"},
        {"CDUP", &TFtpServer::CommandCDUP, "CDUP (go to the parent folder)"},
        {"APPE", &TFtpServer::CommandAPPE, "APPE <sp> file-name"},
        {"STRU", &TFtpServer::CommandSTRU, "STRU <sp> F"},
        {"XMKD", &TFtpServer::CommandMKD, "XMKD <sp> folder-name"},
        {"XRMD", &TFtpServer::CommandRMD, "XRMD <sp> folder-name"},
        {"MDTM", &TFtpServer::CommandMDTM, "MDTM [<sp> YYYYMMDDHHMMSS[+-TZ]] <sp> file-name"},
        {"MODE", &TFtpServer::CommandMODE, "MODE <sp> S"},
        {"OVER", &TFtpServer::CommandOVER, ""},
        {"STOU", &TFtpServer::CommandSTOU, "STOU [<sp> file-name]"},
        {"FEAT", &TFtpServer::CommandFEAT, "FEAT (list the extensions)"},
        {"MLST", &TFtpServer::CommandMLST, "MLST [<sp> path]"},
        {"MLSD", &TFtpServer::CommandMLSD, "MLSD [<sp> folder-name]"},
        {"MFMT", &TFtpServer::CommandMDTM, "MFMT <sp> YYYYMMDDHHMMSS <sp> file-name"},
        {"MD5", &TFtpServer::CommandMD5, "MD5 <sp> file-name"},
        {"AUTH", &TFtpServer::CommandAUTH, "AUTH <sp> TLS"},
        {"PBSZ", &TFtpServer::CommandPBSZ, "PBSZ <sp> 0"},
        {"PROT", &TFtpServer::CommandPROT, "PROT <sp> C | P"},
        {"CCC", &TFtpServer::CommandCCC, "CCC (refused: the control connection stays encrypted)"},
        {"OPTS", &TFtpServer::CommandOPTS, "OPTS <sp> UTF8 ON | UTF8 OFF | HASH [<sp> SHA-256 | SHA-1 | MD5 | CRC32]"},
        {"HELP", &TFtpServer::CommandHELP, "HELP [<sp> command]"},
        {"HASH", &TFtpServer::CommandHASH, "HASH <sp> file-name"},
        {"XSHA256", &TFtpServer::CommandXDIGEST, "XSHA256 <sp> file-name"},
        {"XSHA1", &TFtpServer::CommandXDIGEST, "XSHA1 <sp> file-name"},
        {"XMD5", &TFtpServer::CommandXDIGEST, "XMD5 <sp> file-name"},
        {"XCRC", &TFtpServer::CommandXDIGEST, "XCRC <sp> file-name"},
    };
    for (const TBuiltIn& c : table) RegisterCommand(c.Keyword, c.Proc, c.Syntax);
}

TFtpServer::~TFtpServer() {
    destroying_ = true;
    clients_.clear();
    listener_.reset();
    implicitListener_.reset();
}

void TFtpServer::RegisterCommand(const std::string& keyword, TFtpSrvCommandProc proc, const std::string& syntax) {
    if (commandCount_ > kMaxCommands - 1) throw FtpServerException("Too many command");
    commands_[size_t(commandCount_++)] = {keyword, proc, syntax};
}

TFtpCtrlSocket* TFtpServer::Connection(int index) const {
    if (index < 0 || index >= ConnectionCount()) return nullptr;
    return clients_[size_t(index)].get();
}

// --- start and stop ---------------------------------------------------------

void TFtpServer::Start() {
    if (listener_->State() == wsListening) return;
    listener_->SetPort(Port);
    listener_->SetProto("tcp");
    listener_->SetAddr(ListenAddr());
    listener_->ListenBacklog = kServerBacklog;
    // Connections closed by the server wait on this port for a while; a restart must
    // still be able to listen on it (one listener per port stays guaranteed).
    listener_->ListenReuseAddr = true;
    listener_->OnSessionAvailable = [this](TCustomWSocket&, uint16_t err) { ServerSessionAvailable(*listener_, err); };
    listener_->OnChangeState = [this](TCustomWSocket&, TSocketState, TSocketState s) { ServerChangeState(s); };
    listener_->ComponentOptions = wsoNoReceiveLoop;
    TCustomWSocket::ReserveSpareDescriptor();
    listener_->Listen();
    StartImplicitTls();
    passiveSweep_.OnTimer = [this] { SweepPassive(); };
    passiveSweep_.Start(1000);
}

// Every address: the IPv6 wildcard takes IPv4 clients too, where the system has IPv6.
std::string TFtpServer::ListenAddr() const {
    if (!Addr.empty()) return Addr;
    return SystemHasIpv6() ? "::" : "0.0.0.0";
}

// The second port, where TLS begins with the first byte. Its failure costs only itself.
void TFtpServer::StartImplicitTls() {
    if (!TlsContext || ImplicitTlsPort.empty() || ImplicitTlsPort == "0") return;
    TWSocket& l = *implicitListener_;
    try {
        l.SetPort(ImplicitTlsPort);
        l.SetProto("tcp");
        l.SetAddr(ListenAddr());
        l.ListenBacklog = kServerBacklog;
        l.ListenReuseAddr = true;
        l.ComponentOptions = wsoNoReceiveLoop;
        l.OnSessionAvailable = [this](TCustomWSocket&, uint16_t err) {
            ServerSessionAvailable(*implicitListener_, err);
        };
        l.Listen();
    } catch (const std::exception& e) {
        ReportError("implicit TLS listener on port " + ImplicitTlsPort, e.what());
    }
}

void TFtpServer::Stop() {
    passiveSweep_.Stop();
    acceptRetry_.Stop();
    implicitListener_->Close();
    listener_->Close();
}

void TFtpServer::ServerChangeState(TSocketState newState) {
    if (destroying_) return;
    if (newState == wsListening && OnStart) OnStart(*this);
    if (newState == wsClosed && OnStop) OnStop(*this);
}

void TFtpServer::SetPasvPortRangeStart(int v) {
    if (v < 0 || v > 65535) throw ERangeError("Invalid PasvPortRangeStart " + std::to_string(v) + ".");
    if (v == pasvStart_) return;
    if (std::any_of(pasvInUse_.begin(), pasvInUse_.end(), [](uint8_t f) { return f != 0; }))
        throw FtpServerException("Unable to change PasvPortRangeStart when port is in use.");
    pasvStart_ = v;
}

void TFtpServer::SetPasvPortRangeSize(int v) {
    if (v < 0 || v > 65535) throw ERangeError("Invalid PasvPortRangeSize " + std::to_string(v) + ".");
    if (v == PasvPortRangeSize()) return;
    for (size_t i = size_t(v); i < pasvInUse_.size(); ++i)
        if (pasvInUse_[i]) throw FtpServerException("Unable to change PasvPortRangeSize when port is in use.");
    pasvInUse_.resize(size_t(v), 0);
}

// --- accepting --------------------------------------------------------------

// A client the server cannot take still gets an answer, and the listener stays: the
// first failure is reported once, and the end of the episode too.
void TFtpServer::AcceptFailed(TWSocket& listener) {
    if (!acceptTrouble_) {
        acceptTrouble_ = true;
        if (OnAcceptTrouble) OnAcceptTrouble(*this, listener.LastError);
    }
    if (listener.RefusePending("421 Too many users connected.\r\n")) return;
    // Nothing could be taken, not even to refuse it: the listener rests a moment so that
    // a connection it cannot take does not spin the loop. The timer holds its
    // descriptor already.
    listener.Pause();
    acceptRetry_.OnTimer = [this, &listener] {
        acceptRetry_.Stop();
        listener.Resume();
    };
    acceptRetry_.Start(100);
}

void TFtpServer::ServerSessionAvailable(TWSocket& listener, uint16_t err) {
    if (err != 0) throw FtpServerException("Session available error #" + std::to_string(err));
    TUniqueFd fd;
    try {
        fd = listener.Accept();
    } catch (const ESocketException&) {
        AcceptFailed(listener);
        return;
    }
    if (!fd) return;
    if (acceptTrouble_) {
        acceptTrouble_ = false;
        if (OnAcceptTrouble) OnAcceptTrouble(*this, 0);
    }

    ++connectionCounter_;
    clients_.push_back(ConnectionClass(*this));
    TFtpCtrlSocket& client = *clients_.back();
    client.Name = "ClientWSocket" + std::to_string(connectionCounter_);
    client.DataChannel->Name = "DataWSocket" + std::to_string(connectionCounter_);
    client.ConnectionId = connectionCounter_;
    ReportBackground(client, "control connection");
    ReportBackground(*client.DataChannel, "data connection");
    client.Banner = Banner;
    try {
        client.AssignHandle(std::move(fd));
    } catch (const ESocketException&) {
        PostMsg(MsgClientClosed, client);
        return;
    }
    if (&listener == implicitListener_.get()) {
        // Everything on this port is encrypted, its data connections too.
        SecureControl(client);
        client.PbszSet = client.ProtectData = true;
    }
    client.OnCommand = [this](TFtpCtrlSocket& c, const char* buf, int len) { ClientCommand(c, buf, len); };
    client.OnSessionClosed = [this](TCustomWSocket& s, uint16_t) {
        PostMsg(MsgClientClosed, static_cast<TFtpCtrlSocket&>(s));
    };
    client.OnDataSent = [this](TCustomWSocket& s, uint16_t) { ClientDataSent(static_cast<TFtpCtrlSocket&>(s)); };

    TFtpCtrlSocket* self = &client;
    const int id = client.ConnectionId;
    try {
        if (OnClientConnect) OnClientConnect(*this, client, 0);
    } catch (...) {
        // A failing host handler costs this connection only, never the listener.
        ReportCaught("connect handler");
        if (IsListed(self, id)) client.Close();
        return;
    }
    if (!IsListed(self, id) || client.State() != wsConnected) return;
    if (MaxClients > 0 && MaxClients < ConnectionCount()) {
        client.Banner = "421 Too many users connected.";
        client.SendGreeting();
        client.Close();
    } else {
        client.SendGreeting();
    }
}

bool TFtpServer::IsListed(TFtpCtrlSocket* client, int id) const {
    for (const auto& c : clients_)
        if (c.get() == client) return id < 0 || c->ConnectionId == id;
    return false;
}

// --- dispatch ---------------------------------------------------------------

void TFtpServer::ClientCommand(TFtpCtrlSocket& Client, const char* buf, int len) {
    try {
        TFtpString keyword, params, answer;
        SplitCommandLine(buf, len, keyword, params);
        // Any argument but an account name or a password may be a name: it is read here,
        // once, before any rule or event sees it. The login's two are compared as sent.
        if (!keyword.empty() && keyword != "USER" && keyword != "PASS" && NameToUtf8(params) &&
            !std::exchange(Client.NamesFromCp949, true) && OnNamesFromCp949)
            OnNamesFromCp949(*this, Client);
        if (OnClientCommand) OnClientCommand(*this, Client, keyword, params, answer);
        if (!answer.empty()) {
            SendReply(Client, answer);
            return;
        }
        if (keyword.empty()) {
            SendReply(Client, Fmt("500 '%s': command not understood.", params));
            return;
        }
        for (int i = 0; i < commandCount_; ++i) {
            if (commands_[size_t(i)].Keyword == keyword) {
                (this->*commands_[size_t(i)].Proc)(Client, keyword, params, answer);
                if (!Client.CommandsHeld()) SendReply(Client, answer); // else the holder replies later
                if (std::exchange(Client.TlsAfterReply, false)) SecureControl(Client);
                return;
            }
        }
        SendReply(Client, Fmt("500 '%s': command not understood.", keyword));
    } catch (const std::exception& e) {
        SendReply(Client, std::string("501 ") + e.what());
    }
}

void TFtpServer::SendReply(TFtpCtrlSocket& Client, TFtpString Answer) {
    try {
        if (OnAnswerToClient) OnAnswerToClient(*this, Client, Answer);
        Client.SendAnswer(Answer);
    } catch (const ESocketException&) {
        // The connection is going: the reply is lost, and its own close reports the rest.
    } catch (...) {
        ReportCaught("reply");
    }
}

void TFtpServer::ReportCaught(const char* where) noexcept {
    std::string what = "unknown error";
    try {
        throw;
    } catch (const std::exception& e) {
        what = e.what();
    } catch (...) {
    }
    ReportError(where, what);
}

void TFtpServer::ReportError(const std::string& where, const std::string& what) noexcept {
    try {
        if (OnCaughtError) OnCaughtError(*this, where, what);
    } catch (...) {
        // The report itself failed; nothing is left to tell it to.
    }
}

void TFtpServer::ReportBackground(TCustomWSocket& socket, const char* where) {
    socket.OnBgException = [this, where](TCustomWSocket&, const std::exception& e, bool&) {
        ReportError(where, e.what());
    };
}

bool TFtpServer::CheckLoggedIn(TFtpCtrlSocket& Client, TFtpString& Answer) {
    if (Client.FtpState == ftpcReady) return true;
    Answer = "530 Please login with USER and PASS.";
    return false;
}

bool TFtpServer::Validate(const TFtpSrvValidateXferEvent& ev, TFtpCtrlSocket& Client, TFtpString& FilePath) {
    bool allowed = true;
    if (ev) ev(*this, Client, FilePath, allowed);
    return allowed;
}

// --- private messages -------------------------------------------------------

void TFtpServer::PostMsg(TFtpSrvMessage msg, TFtpCtrlSocket& Client) {
    TFtpCtrlSocket* c = &Client;
    const int id = msg == MsgStartSend ? 0 : Client.ConnectionId;
    const uint32_t session = Client.DataSession;
    loop_.Post(alive_, [this, msg, id, session, c] { HandleMessage(msg, id, session, c); });
}

void TFtpServer::HandleMessage(TFtpSrvMessage msg, int id, uint32_t dataSession, TFtpCtrlSocket* client) {
    // A message that outlived its connection, or whose number now belongs to another
    // connection, does nothing. The start-send message carries no number, but it is
    // still checked against the list so that it can never reach a freed connection.
    if (!IsListed(client, msg == MsgStartSend ? -1 : id)) return;
    // A message for the data channel does nothing once the channel has moved on: it
    // would end the next listener or transfer of the same client.
    const bool forChannel = msg == MsgAbortData || msg == MsgCloseData || msg == MsgLinkLost;
    if (forChannel && client->DataSession != dataSession) return;
    switch (msg) {
    case MsgCloseRequest:
        if (client->AllSent())
            client->Close();
        else
            client->CloseWhenSent = true;
        break;
    case MsgClientClosed: RemoveClient(client); break;
    case MsgAbortData: AbortData(*client); break;
    case MsgCloseData: CloseData(*client); break;
    case MsgStartSend: StartSend(*client); break;
    case MsgLinkLost: LinkLost(*client); break;
    }
}

void TFtpServer::ClientDataSent(TFtpCtrlSocket& Client) {
    if (!Client.CloseWhenSent) return;
    Client.CloseWhenSent = false;
    PostMsg(MsgCloseRequest, Client);
}

void TFtpServer::RemoveClient(TFtpCtrlSocket* client) {
    auto it = std::find_if(clients_.begin(), clients_.end(), [&](const auto& c) { return c.get() == client; });
    if (it == clients_.end()) return;
    std::unique_ptr<TFtpCtrlSocket> owned = std::move(*it);
    clients_.erase(it);
    // The object is freed when `owned` goes out of scope, whatever the steps raise.
    try {
        TWSocket& data = *owned->DataChannel;
        if (owned->DataOpen && data.OnSessionClosed) data.OnSessionClosed(data, WSAENOTCONN);
    } catch (...) {
        ReportCaught("end of a transfer at disconnection");
    }
    try {
        FreePasvPort(*owned);
    } catch (...) {
        ReportCaught("passive port at disconnection");
    }
    try {
        if (OnClientDisconnect) OnClientDisconnect(*this, *owned, 0);
    } catch (...) {
        ReportCaught("disconnect handler");
    }
}

void TFtpServer::DropAllClients() {
    while (!clients_.empty()) RemoveClient(clients_.front().get());
}

// --- paths ------------------------------------------------------------------

std::string TFtpServer::ResolveFilePath(TFtpCtrlSocket& Client, const std::string& Directory,
                                        const std::string& FileName) {
    std::string f = StripLeadingBackslash(ToLocalSeparators(FileName));
    std::string newName;
    if (OnBuildFilePath) OnBuildFilePath(*this, Client, Directory, f, newName);
    if (!newName.empty()) return newName;
    if (IsUNC(f)) return f;
    if (!f.empty() && f[0] == '\\') {
        const std::string& home = Client.HomePath;
        return home.substr(0, home.empty() ? 0 : home.size() - 1) + f;
    }
    std::string drive, rest;
    if (f.size() >= 2 && f[1] == ':') {
        drive = UpperCase(f.substr(0, 2));
        rest = f.substr(2);
    } else {
        drive = Directory.substr(0, 2);
        rest = f;
    }
    if (!rest.empty() && rest[0] == '\\') return drive + rest;
    if (drive != Directory.substr(0, 2)) throw FtpServerException("No current dir for '" + drive + "'");
    return Directory + rest;
}

} // namespace nubo
