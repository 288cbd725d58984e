// Data connections (PORT, PASV, the passive port pool) and file transfers (RETR,
// STOR, APPE, STOU, REST, ABOR) with the handlers that run on the data channel.
#include <climits>
#include <cstdio>
#include <utility>

#include "engine/FtpServer.h"
#include "platform/FileSystem.h"
#include "platform/PortPrivilege.h"

namespace nubo {

namespace {

// Reads one number of a PORT argument at pos, passing the comma after it.
uint64_t GetInteger(const std::string& s, size_t& pos) {
    auto blank = [&] { return pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'); };
    while (blank()) ++pos;
    uint64_t v = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
        v = std::min<uint64_t>(v * 10 + uint64_t(s[pos] - '0'), UINT32_MAX); // saturate, never wrap
        ++pos;
    }
    while (blank()) ++pos;
    if (pos < s.size()) {
        if (s[pos] != ',') throw FtpServerException("GetInteger: unexpected char");
        ++pos;
    }
    return v;
}

// Whether this process may bind port 20 for active connections.
bool MayBindPrivilegedPorts() {
    static const bool allowed = MayBindPort(20);
    return allowed;
}

// How an upload opens its file: APPE continues an existing file, a resumed STOR writes
// into it, anything else replaces it (its old content goes with the first byte, or
// when the upload ends without one).
TFileMode UploadFileMode(TFtpCommandCode commandCode, const TFtpCtrlSocket& Client) {
    if (commandCode == TFtpCommandCode::Appe && FileSizeOf(Client.TransferPath) >= 0) return TFileMode::Append;
    if (Client.RestartOffset > 0) return TFileMode::Write;
    return TFileMode::Replace;
}

// The reply to a transfer command that failed before its "150"; only inside a catch block.
std::string RefusedTransferReply(const std::string& command) {
    try {
        throw;
    } catch (const ERestartBeyondEnd& e) {
        return Fmt("554 Cannot %s. %s.", command, e.what());
    } catch (const EStreamError& e) {
        return Fmt("550 Cannot %s. %s", command, e.what());
    } catch (const std::exception& e) {
        return Fmt("501 Cannot %s. %s", command, e.what());
    }
}

// The file of a transfer command is opened before its "150", so that a missing file, a
// missing folder or a name that cannot be made is refused before any data connection.
// A transfer still running keeps its stream; the new one then opens at its connection.
void OpenTransferFile(TFtpCtrlSocket& Client, TFileMode mode) {
    if (Client.DataOpen) return;
    Client.ReleaseOwnedStream();
    auto stream = std::make_unique<TFileStream>(Client.TransferPath, mode);
    if (mode != TFileMode::Append && Client.RestartOffset > 0 && Client.RestartOffset > stream->Size())
        throw ERestartBeyondEnd("Restart offset " + std::to_string(Client.RestartOffset) +
                                " is beyond the end of the file (" + std::to_string(stream->Size()) + " bytes)");
    // An appending stream starts at the file's end by itself.
    if (mode != TFileMode::Append && stream->Seek(Client.RestartOffset, TSeekOrigin::Begin) != Client.RestartOffset)
        throw EStreamError("Unable to set resume position in local file");
    Client.OwnStream(std::move(stream));
}

} // namespace

// --- PORT and PASV ----------------------------------------------------------

void TFtpServer::CommandPORT(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer) || RefusedAfterEpsvAll(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Port;
    try {
        size_t pos = 0;
        uint64_t n[6];
        for (auto& v : n) v = GetInteger(Params, pos);
        // Bounce defence: only the client's own address, no byte above 255, no
        // privileged port; an empty argument (0.0.0.0, port 0) is refused by that too.
        for (auto v : n)
            if (v > 255) throw FtpServerException("bad number");
        std::string addr =
            std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2]) + "." + std::to_string(n[3]);
        if (!SetActiveAddress(Client, addr, n[4] * 256 + n[5])) throw FtpServerException("refused address");
        Answer = "200 Port command successful.";
    } catch (const std::exception&) {
        Answer = "501 Invalid PORT command.";
    }
}

// EPRT <d><family><d><address><d><port><d>, any printable delimiter: the same defences as
// PORT, for IPv4 (1) and IPv6 (2).
void TFtpServer::CommandEPRT(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer) || RefusedAfterEpsvAll(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Port;
    const std::string arg = TrimBlanks(Params);
    std::vector<std::string> fields;
    if (arg.size() >= 2 && arg[0] > ' ' && arg[0] < 127 && arg.back() == arg[0]) {
        size_t from = 1;
        for (size_t at; (at = arg.find(arg[0], from)) != std::string::npos; from = at + 1)
            fields.push_back(arg.substr(from, at - from));
    }
    Answer = "501 Invalid EPRT command.";
    if (fields.size() != 3) return;
    const std::string& family = fields[0];
    if (family != "1" && family != "2") {
        Answer = "522 Network protocol not supported, use (1,2)";
        return;
    }
    TInetAddress addr;
    // The address in its own family's plain form: no IPv4 inside an IPv6 text.
    const bool v6 = family == "2";
    if (!TInetAddress::Parse(fields[1], addr) || addr.Family() != (v6 ? AF_INET6 : AF_INET) ||
        (v6 && fields[1].find_first_of(".[") != std::string::npos))
        return;
    const std::string& port = fields[2];
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos) return;
    if (!SetActiveAddress(Client, addr.Text(), std::stoull(port))) return;
    Answer = "200 EPRT command successful.";
}

// The next transfer connects out to the client's own address, never below port 1024 or
// above the port space; false (nothing changed) otherwise.
bool TFtpServer::SetActiveAddress(TFtpCtrlSocket& Client, const std::string& addr, uint64_t port) {
    if (addr != Client.PeerAddr() || port < 1024 || port > 65535) return false;
    Client.ActiveAddr = addr;
    Client.ActivePort = std::to_string(port);
    // PORT after PASV: the next transfer connects out, and the passive port goes back.
    if (Client.PassiveOn && !Client.DataOpen) DropPassive(Client);
    return true;
}

// After EPSV ALL only EPSV may set up a data connection.
bool TFtpServer::RefusedAfterEpsvAll(TFtpCtrlSocket& Client, TFtpString& Answer) {
    if (!Client.EpsvAll) return false;
    Answer = "503 Only EPSV is accepted after EPSV ALL.";
    return true;
}

std::string TFtpServer::TakePasvPort() {
    if (pasvStart_ == 0 || pasvInUse_.empty()) return "0";
    for (size_t i = 0; i < pasvInUse_.size(); ++i) {
        if (!pasvInUse_[i]) {
            pasvInUse_[i] = 1;
            return std::to_string(pasvStart_ + int(i));
        }
    }
    return "";
}

void TFtpServer::FreePoolPort(int port) {
    if (pasvStart_ != 0 && port >= pasvStart_ && port < pasvStart_ + PasvPortRangeSize())
        pasvInUse_[size_t(port - pasvStart_)] = 0;
}

void TFtpServer::FreePasvPort(TFtpCtrlSocket& Client) {
    FreePoolPort(Client.PasvPort);
    Client.PasvPort = 0;
}

// The transfer is ending: its pool port goes back and no later step takes it for passive.
void TFtpServer::LeavePassive(TFtpCtrlSocket& Client) {
    FreePasvPort(Client);
    Client.PassiveOn = false;
}

// Listens on the lowest free pool port that the system lets us bind. A port can still be
// held by a closing connection, or by another program: it is skipped for this PASV only.
void TFtpServer::ListenOnPoolPort(TFtpCtrlSocket& Client, TWSocket& data) {
    std::vector<int> refused;
    struct TGiveBack {
        TFtpServer& server;
        std::vector<int>& ports;
        ~TGiveBack() {
            for (int port : ports) server.FreePoolPort(port);
        }
    } giveBack{*this, refused};
    for (;;) {
        const std::string taken = TakePasvPort();
        Client.PasvPort = int(std::strtol(taken.c_str(), nullptr, 10));
        data.SetPort(taken);
        if (data.Port().empty()) throw FtpServerException("No available PASV Ports");
        try {
            data.Listen();
            return;
        } catch (const ESocketException& e) {
            if (e.ErrorCode != WSAEADDRINUSE || Client.PasvPort == 0) throw;
            data.Close();
            refused.push_back(Client.PasvPort); // stays taken until another port is found
            Client.PasvPort = 0;
        }
    }
}

std::string TFtpServer::PassiveReplyAddress(TFtpCtrlSocket& Client, const std::string& local) {
    if (PasvIpAddr.empty()) return local;
    // A client on the loop-back interface is told the loop-back address: the public
    // address announced to others may not be reachable from this machine itself.
    if (Client.PeerAddr() == "127.0.0.1") return "127.0.0.1";
    // A client on a private network reaches the server by its local address; only
    // clients from outside come through the router whose address is announced.
    TInetAddress peer;
    if (TInetAddress::Parse(Client.PeerAddr(), peer) && peer.IsLocalNetwork()) return local;
    TInetAddress a;
    try {
        a = WSocketResolveHost(PasvIpAddr, AF_INET);
    } catch (const ESocketException&) {
        throw FtpServerException("Invalid PASV IP Address");
    }
    const std::string d = a.Text();
    if (d != TrimBlanks(PasvIpAddr)) throw FtpServerException("Invalid PASV IP Address");
    return d;
}

void TFtpServer::CommandPASV(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer) || RefusedAfterEpsvAll(Client, Answer)) return;
    OpenPassive(Client, false, "", Answer);
}

// EPSV: the same passive listener as PASV, announced by its port alone (the client
// connects to the address it already talks to); "EPSV ALL" keeps the session passive.
void TFtpServer::CommandEPSV(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    const std::string arg = UpperCase(TrimBlanks(Params));
    if (arg == "ALL") {
        Client.EpsvAll = true;
        Answer = "200 EPSV ALL command successful.";
    } else if (!arg.empty() && arg != "1" && arg != "2") {
        Answer = "501 Invalid EPSV command.";
    } else {
        OpenPassive(Client, true, arg, Answer);
    }
}

void TFtpServer::OpenPassive(TFtpCtrlSocket& Client, bool extended, const std::string& family, TFtpString& Answer) {
    TWSocket& data = *Client.DataChannel;
    try {
        const std::string local = Client.LocalName().Addr;
        const bool v6 = local.find(':') != std::string::npos;
        // PASV's reply carries four bytes of address: an IPv6 client is sent to EPSV.
        if (!extended && v6) {
            Answer = "522 PASV works over IPv4 only; use EPSV.";
            return;
        }
        if (!family.empty() && family != (v6 ? "2" : "1")) {
            Answer = v6 ? "522 Network protocol not supported, use (2)" : "522 Network protocol not supported, use (1)";
            return;
        }
        // A command still waiting for the old listener's connection is given up with it,
        // and an unused connection goes without a reply of its own.
        if (AwaitsConnection(Client))
            CancelPendingTransfer(Client, "");
        else if (!Client.DataOpen)
            data.OnSessionClosed = nullptr;
        FreePasvPort(Client);
        data.Close();
        Client.EndChannel();
        data.SetAddr(v6 ? "::" : "0.0.0.0");
        data.SetProto("tcp");
        data.OnSessionAvailable = [this, &Client](TCustomWSocket&, uint16_t) { ClientPassiveSessionAvailable(Client); };
        data.OnSessionConnected = nullptr;
        data.OnSessionClosed = nullptr;
        data.OnDataAvailable = nullptr;
        data.ComponentOptions = wsoNoReceiveLoop;
        data.ListenReuseAddr = true; // a pool of one port serves the next transfer at once
        ListenOnPoolPort(Client, data);
        const unsigned p = data.LocalName().Port;
        if (extended) {
            Answer = "229 Entering Extended Passive Mode (|||" + std::to_string(p) + "|)";
        } else {
            std::string addr = PassiveReplyAddress(Client, local);
            for (auto& c : addr)
                if (c == '.') c = ',';
            Answer = "227 Entering Passive Mode (" + addr + "," + std::to_string(p / 256) + "," +
                     std::to_string(p % 256) + ").";
        }
        Client.PassiveOn = true;
        Client.PasvListenTick = TickCount();
    } catch (const std::exception& e) {
        Answer = Fmt(extended ? "500 EPSV exception: '%s'." : "500 PASV exception: '%s'.", e.what());
        try {
            data.Close();
        } catch (...) {
            ReportCaught("PASV listener close");
        }
        FreePasvPort(Client);
    }
}

// A passive listener that its client never connects to would hold a pool port for as
// long as the client stays: after the time-out the port goes back, and a transfer
// command waiting for the connection is answered.
void TFtpServer::SweepPassive() {
    if (PasvTimeoutSec <= 0) return;
    for (const auto& c : clients_) {
        if (c->PassiveOn && !c->PassiveLinked && c->DataChannel->State() == wsListening &&
            TicksSince(c->PasvListenTick) >= uint64_t(PasvTimeoutSec) * 1000)
            TimeOutPassive(*c);
        // A data connection whose TLS handshake never ends holds its transfer as long.
        else if (c->DataChannel->TlsHandshaking() && TicksSince(c->DataTlsTick) >= uint64_t(PasvTimeoutSec) * 1000)
            RefuseDataChannel(*c, *c->DataChannel, "the TLS handshake of the data connection timed out");
    }
}

// A transfer command answered 150 that still waits for its passive connection.
bool TFtpServer::AwaitsConnection(const TFtpCtrlSocket& Client) {
    return Client.PassivePending && !Client.PassiveLinked;
}

void TFtpServer::TimeOutPassive(TFtpCtrlSocket& Client) {
    if (AwaitsConnection(Client)) {
        CancelPendingTransfer(Client, "425 Can't open data connection.");
        return;
    }
    DropPassive(Client);
}

// The passive listener, or its connection that no command took, goes without a reply.
void TFtpServer::DropPassive(TFtpCtrlSocket& Client) {
    Client.DataChannel->OnSessionClosed = nullptr;
    Client.DataChannel->Close();
    FreePasvPort(Client);
    Client.EndChannel();
}

// Ends a transfer command that was answered 150 but never moved data: its data channel
// closes without a handler's reply, the host's grant ends, and the client gets reply.
void TFtpServer::CancelPendingTransfer(TFtpCtrlSocket& Client, const std::string& reply) {
    Client.StartPending = false;
    Client.DataChannel->OnSessionClosed = nullptr;
    Client.DataChannel->Close();
    Client.EndGrant();
    EndDataSession(Client);
    if (!reply.empty()) SendReply(Client, reply);
}

void TFtpServer::ClientPassiveSessionAvailable(TFtpCtrlSocket& Client) {
    TWSocket& data = *Client.DataChannel;
    TUniqueFd fd = data.Accept();
    if (!fd) return;
    // Theft defence: only the client of this control connection may connect here;
    // anyone else is turned away and the port stays open for the right client.
    if (PeerAddrOf(fd) != Client.PeerAddr()) return;
    data.OnSessionClosed = nullptr;
    data.Close();
    // The listener is gone: its port serves the next client's PASV at once.
    FreePasvPort(Client);
    // A channel armed by a transfer command keeps that command's handlers, whatever
    // the client sent after it (a NOOP before the connection came in). A connection that
    // comes before its command gets the command's handlers when the command comes; until
    // then its end answers nothing (the previous command's reply is not sent again).
    switch (Client.PassivePending ? Client.XferCommandCode : TFtpCommandCode::Port) {
    case TFtpCommandCode::Stor:
    case TFtpCommandCode::Appe:
    case TFtpCommandCode::Stou: SetDataHandlers(Client, TDataHandlers::Stor); break;
    case TFtpCommandCode::Retr:
    case TFtpCommandCode::List:
    case TFtpCommandCode::Nlst:
    case TFtpCommandCode::Mlsd: SetDataHandlers(Client, TDataHandlers::Retr); break;
    default: SetDataHandlers(Client, TDataHandlers::None); break;
    }
    data.LingerOnOff = wsLingerOff;
    data.LingerTimeout = 0;
    data.SetHSocket(std::move(fd));
    ProtectChannel(Client, data);
    Client.PassiveLinked = true;
    if (Client.PassivePending && data.OnSessionConnected) data.OnSessionConnected(data, 0);
}

void TFtpServer::SetDataHandlers(TFtpCtrlSocket& Client, TDataHandlers set) {
    TWSocket& data = *Client.DataChannel;
    TFtpCtrlSocket* c = &Client;
    data.OnSessionConnected = nullptr;
    data.OnSessionClosed = nullptr;
    data.OnDataAvailable = nullptr;
    data.OnDataSent = nullptr;
    if (set == TDataHandlers::Stor) {
        data.OnSessionConnected = [this, c](TCustomWSocket& d, uint16_t e) {
            ProtectChannel(*c, d);
            ClientStorSessionConnected(*c, e);
        };
        data.OnSessionClosed = [this, c](TCustomWSocket&, uint16_t e) { ClientStorSessionClosed(*c, e); };
        data.OnDataAvailable = [this, c](TCustomWSocket&, uint16_t e) { ClientStorDataAvailable(*c, e); };
    } else if (set == TDataHandlers::Retr) {
        data.OnSessionConnected = [this, c](TCustomWSocket& d, uint16_t e) {
            ProtectChannel(*c, d);
            ClientRetrSessionConnected(*c, e);
        };
        data.OnSessionClosed = [this, c](TCustomWSocket&, uint16_t e) { ClientRetrSessionClosed(*c, e); };
        data.OnDataSent = [this, c](TCustomWSocket&, uint16_t e) { ClientRetrDataSent(*c, e); };
    }
}

// --- opening the data channel ------------------------------------------------

// Passive: the handlers go on the channel, and the session starts now when the client
// is already connected, else when it connects. Active: an outgoing connection from the
// control connection's local address. Either way the transfer takes the PORT address:
// the next one goes to port 20 unless a new PORT comes (the end of an older session,
// which may come after that PORT, leaves it alone).
void TFtpServer::ArmChannel(TFtpCtrlSocket& Client, TDataHandlers set) {
    TWSocket& data = *Client.DataChannel;
    const std::string activePort = std::exchange(Client.ActivePort, "ftp-data");
    if (Client.PassiveOn) {
        SetDataHandlers(Client, set);
        if (!Client.PassiveLinked)
            Client.PassivePending = true;
        else if (data.State() != wsConnected)
            PostMsg(MsgLinkLost, Client); // the client closed it before this command came
        else if (data.OnSessionConnected)
            data.OnSessionConnected(data, 0);
        return;
    }
    if (set == TDataHandlers::Retr) data.Close();
    data.SetProto("tcp");
    data.SetAddr(Client.ActiveAddr);
    data.SetPort(activePort);
    SetDataHandlers(Client, set);
    data.LingerOnOff = wsLingerOff;
    data.LingerTimeout = 0;
    data.SetLocalAddr(Client.BoundAddr());
    // Active connections leave from port 20; an operator without that privilege still
    // gets working active mode from an ephemeral port.
    data.SetLocalPort(MayBindPrivilegedPorts() ? "ftp-data" : "0");
    data.ComponentOptions = wsoNoReceiveLoop;
    data.Connect();
}

void TFtpServer::OpenStorChannel(TFtpCtrlSocket& Client) {
    Client.BeginTransfer(Client.LastCommandCode);
    ArmChannel(Client, TDataHandlers::Stor);
}

void TFtpServer::OpenRetrChannel(TFtpCtrlSocket& Client) {
    Client.BeginTransfer(Client.LastCommandCode);
    Client.DataChannel->BufSize = 64 * 1024; // listings are sent from memory in large blocks
    ArmChannel(Client, TDataHandlers::Retr);
}

void TFtpServer::DisarmPassive(TFtpCtrlSocket& Client, const std::string& Answer) {
    Client.RestPending = false; // this command took the offset, whatever its answer
    if (Answer.compare(0, 2, "15") == 0) return;
    // A command refused after the host's grant (its file missing) ends that grant, and
    // the restart offset it was given.
    if (!Client.DataOpen) {
        Client.EndGrant();
        Client.RestartOffset = 0;
    }
    // The refused command used up its PASV: the listener, or the connection the client
    // made for it, goes now. Left open, that connection's end could come after the
    // client's next PORT or PASV and undo them. A running transfer is not touched.
    if (Client.PassiveOn && !Client.DataOpen) DropPassive(Client);
}

// --- transfer commands --------------------------------------------------------

void TFtpServer::CommandRETR(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Retr;
    if (!CheckDataProtection(Client, Answer)) return;
    // A stale engine stream is freed; a running transfer keeps its own.
    if (!Client.DataOpen) Client.ReleaseOwnedStream();
    try {
        Client.TransferName = ToLocalSeparators(Params);
        TTempDirStep step(Client, Client.TransferName);
        std::string path = ResolveFilePath(Client, Client.CurrentDir, Client.TransferName);
        if (!Validate(OnValidateGet, Client, path)) {
            Answer = "500 Cannot RETR.";
        } else if (!FileExists(path)) {
            Answer = Fmt("550 Cannot RETR. %s", "File not found: \"" + path + "\"");
        } else {
            Client.TransferPath = path;
            OpenTransferFile(Client, TFileMode::Read);
            Answer = Fmt("150 Opening data connection for %s.", Params);
            bool delayed = false;
            if (OnGetProcessing) OnGetProcessing(*this, Client, delayed);
            Client.StartPending = true;
            if (!delayed) PostMsg(MsgStartSend, Client);
        }
    } catch (const std::exception&) {
        Answer = RefusedTransferReply("RETR");
    }
    DisarmPassive(Client, Answer);
}

void TFtpServer::StartSend(TFtpCtrlSocket& Client) {
    if (!Client.StartPending) return; // aborted before it began
    Client.StartPending = false;
    try {
        OpenRetrChannel(Client);
    } catch (const std::exception& e) {
        // The client already has its 150: tell it why no data will come.
        SendReply(Client, Fmt("501 Cannot RETR. %s", e.what()));
    }
}

// The frame of STOR and APPE: the argument's path through the temporary directory
// step and the host's check; when allowed, the path is kept and the channel opens.
bool TFtpServer::PrepareUpload(TFtpCtrlSocket& Client, const TFtpString& Params) {
    Client.TransferName = ToLocalSeparators(Params);
    TTempDirStep step(Client, Client.TransferName);
    std::string path = ResolveFilePath(Client, Client.CurrentDir, Client.TransferName);
    if (!Validate(OnValidatePut, Client, path)) return false;
    Client.TransferPath = path;
    OpenTransferFile(Client, UploadFileMode(Client.LastCommandCode, Client));
    OpenStorChannel(Client);
    return true;
}

void TFtpServer::CommandSTOR(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Stor;
    if (!CheckDataProtection(Client, Answer)) return;
    if (!Client.DataOpen) Client.ReleaseOwnedStream();
    try {
        Answer = PrepareUpload(Client, Params) ? Fmt("150 Opening data connection for %s.", Params)
                                               : "501 Permission Denied";
    } catch (const std::exception&) {
        Answer = RefusedTransferReply("STOR");
    }
    DisarmPassive(Client, Answer);
}

void TFtpServer::CommandAPPE(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Appe;
    if (!CheckDataProtection(Client, Answer)) return;
    if (!Client.DataOpen) Client.ReleaseOwnedStream();
    try {
        if (PrepareUpload(Client, Params)) {
            Client.RestartOffset = std::max<int64_t>(FileSizeOf(Client.TransferPath), 0);
            Answer = Fmt("150 APPE supported.  Ready to append file \"%s\" at offset %s.", Params,
                         std::to_string(Client.RestartOffset));
        } else {
            Answer = "500 Cannot APPE.";
        }
    } catch (const std::exception&) {
        Answer = "550 APPE failed.";
    }
    DisarmPassive(Client, Answer);
}

void TFtpServer::CommandSTOU(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Stou;
    if (!CheckDataProtection(Client, Answer)) return;
    if (!Client.DataOpen) Client.ReleaseOwnedStream();
    // The unique name is held by an empty "<name>.TMP" until the upload's own file
    // exists; then the placeholder goes, whatever the outcome.
    std::string placeholder;
    try {
        std::string name;
        if (OnGetUniqueFileName) OnGetUniqueFileName(*this, Client, name);
        // The folder's upload right comes first: a refused STOU leaves nothing behind.
        std::string probe = ResolveFilePath(Client, Client.CurrentDir, name.empty() ? "STOU" : name);
        if (!Validate(OnValidatePut, Client, probe)) {
            Answer = "501 Permission Denied";
        } else {
            if (name.empty() || FileExists(ResolveFilePath(Client, Client.CurrentDir, name))) {
                placeholder = CreateUniqueTempFile(Client.CurrentDir);
                if (placeholder.empty())
                    throw FtpServerException("Cannot create a unique file in " + Client.CurrentDir);
                name = placeholder.substr(0, placeholder.size() - 4); // the name without ".TMP"
            }
            Client.TransferName = ToLocalSeparators(name);
            std::string path = ResolveFilePath(Client, Client.CurrentDir, Client.TransferName);
            if (!Validate(OnValidatePut, Client, path)) {
                Answer = "501 Permission Denied";
            } else {
                Client.TransferPath = path;
                OpenTransferFile(Client, TFileMode::Replace);
                OpenStorChannel(Client);
                Answer = Fmt("150 Opening data connection for %s.", name);
            }
        }
    } catch (const EStreamError& e) {
        Answer = Fmt("550 Cannot STOU. %s", e.what());
    } catch (const std::exception& e) {
        Answer = Fmt("501 Cannot STOU. %s", e.what());
    }
    if (!placeholder.empty()) RemoveFile(placeholder);
    DisarmPassive(Client, Answer);
}

void TFtpServer::CommandREST(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Rest;
    size_t i = 0;
    while (i < Params.size() && Params[i] == ' ') ++i;
    // Digits beyond the 64-bit range are refused; a wrapped value would resume at a
    // position the client never asked for.
    int64_t offset = 0;
    for (; i < Params.size() && Params[i] >= '0' && Params[i] <= '9'; ++i) {
        const int d = Params[i] - '0';
        offset = offset > (INT64_MAX - d) / 10 ? -1 : offset * 10 + d;
        if (offset < 0) break;
    }
    if (offset < 0) {
        Client.RestartOffset = 0;
        Answer = "501 Required byte offset parameter bad or missing.";
        return;
    }
    Client.RestartOffset = offset;
    Client.RestPending = true;
    Answer = Fmt("350 REST supported. Ready to resume at byte offset %s.", std::to_string(offset));
}

void TFtpServer::CommandABOR(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    TWSocket& data = *Client.DataChannel;
    // A transfer answered 150 whose data has not begun: its 426 comes first, then ABOR's.
    if (Client.StartPending || AwaitsConnection(Client)) {
        CancelPendingTransfer(Client, "426 Connection closed; ABORT requested by client.");
        Answer = "226 ABOR command successful.";
        return;
    }
    if (data.State() == wsConnected) {
        Client.EndReason = "ABORT requested by client";
        Client.AbortFlag = true;
        Client.AbortedByClient = true;
        data.Close(); // its close handler sends the transfer's "426" first
        Answer = "226 ABOR command successful.";
        return;
    }
    Answer = "225 ABOR command successful.";
}

// --- private messages of the data side ----------------------------------------

void TFtpServer::AbortData(TFtpCtrlSocket& Client) {
    LeavePassive(Client);
    TWSocket& data = *Client.DataChannel;
    data.Shutdown(2);
    data.Close();
}

// Everything sent is in the kernel's hands by now. A clear connection with nothing unread
// closes at once, and the reply follows without a round trip for the client's close
// (each small file waited for it). Unread bytes would turn the close into a reset that
// can drop what is still in flight, and TLS ends with its close alert: both still
// half-close and wait for the client.
void TFtpServer::CloseData(TFtpCtrlSocket& Client) {
    LeavePassive(Client);
    TWSocket& data = *Client.DataChannel;
    if (!data.TlsOn() && data.RcvdCount() == 0) {
        data.Close();
        return;
    }
    data.Shutdown(1);
}

// The passive connection that a command was to take had closed before the command
// came: the command, already answered 150, gets no data connection.
void TFtpServer::LinkLost(TFtpCtrlSocket& Client) {
    CancelPendingTransfer(Client, "425 Can't open data connection.");
}

void TFtpServer::FailTransfer(TFtpCtrlSocket& Client, const std::string& reason) {
    Client.AbortFlag = true;
    Client.EndReason = reason;
    PostMsg(MsgAbortData, Client);
}

void TFtpServer::EndDataSession(TFtpCtrlSocket& Client) {
    Client.XferWaiter.Leave();
    FreePasvPort(Client);
    Client.EndChannel();
    // A REST for the next command, sent before this session ended, stays.
    if (!Client.RestPending) Client.RestartOffset = 0;
    Client.ReleaseOwnedStream();
    std::vector<char>().swap(Client.XferBuffer);
}

// --- downloads ----------------------------------------------------------------

void TFtpServer::ClientRetrSessionConnected(TFtpCtrlSocket& Client, uint16_t AError) {
    Client.DataOpen = AError == 0;
    if (Client.AbortFlag) return;
    TWSocket& data = *Client.DataChannel;
    try {
        if (OnRetrSessionConnected) OnRetrSessionConnected(*this, Client, data, AError);
        if (AError != 0) throw FtpServerException("Client data socket connection error: " + std::to_string(AError));
        if (!Client.TransferPath.empty() && !Client.TransferStream()) {
            if (!FileExists(Client.TransferPath)) {
                FailTransfer(Client, "File not found: \"" + Client.TransferPath + "\"");
                return;
            }
            Client.OwnStream(std::make_unique<TFileStream>(Client.TransferPath, TFileMode::Read));
            if (Client.TransferStream()->Seek(Client.RestartOffset, TSeekOrigin::Begin) != Client.RestartOffset) {
                FailTransfer(Client, "Unable to set resume position in local file");
                return;
            }
        }
        Client.TransferBytes = 0;
        Client.XferWaiter.Join(Client.DownGate);
        Client.XferWaiter.OnGrant = [this, &Client] {
            if (!Client.AbortFlag) SendNextBlock(Client);
        };
        SendNextBlock(Client);
    } catch (const std::exception& e) {
        FailTransfer(Client, e.what());
    }
}

// One block goes to the data socket; the next is read when the socket has drained it.
// A file block goes from the file to the socket without a copy.
void TFtpServer::SendNextBlock(TFtpCtrlSocket& Client) {
    TWSocket& data = *Client.DataChannel;
    try {
        TStream* st = Client.TransferStream();
        if (auto* fs = dynamic_cast<TFileStream*>(st)) {
            const int64_t pos = fs->Position();
            int64_t n = std::clamp<int64_t>(fs->Size() - pos, 0, XferBlockSize);
            // Under a speed limit a block is what the account's share allows now; with
            // none, the waiter's grant sends it later.
            if (n > 0 && Client.XferWaiter.Limited()) {
                n = Client.XferWaiter.Allowed(n);
                if (n == 0) return;
                Client.XferWaiter.Spend(n);
            }
            if (n > 0) {
                fs->Seek(pos + n, TSeekOrigin::Begin);
                Client.TransferBytes += n;
                data.SendFile(fs->Handle(), pos, n);
                return;
            }
        } else if (st) {
            if (Client.XferBuffer.size() != size_t(XferBlockSize)) Client.XferBuffer.resize(size_t(XferBlockSize));
            const size_t n = st->Read(Client.XferBuffer.data(), Client.XferBuffer.size());
            if (n > 0) {
                Client.TransferBytes += int64_t(n);
                data.Send(Client.XferBuffer.data(), int(n));
                return;
            }
        }
        if (!Client.EofPosted) {
            Client.EofPosted = true;
            PostMsg(MsgCloseData, Client);
        }
    } catch (const std::exception& e) {
        FailTransfer(Client, e.what());
    }
}

void TFtpServer::ClientRetrDataSent(TFtpCtrlSocket& Client, uint16_t AError) {
    if (Client.AbortFlag) return;
    // The drained-buffer report of a passive connection adopted before its transfer
    // started must not start reading: the connected handler does that.
    if (!Client.DataOpen) return;
    TWSocket& data = *Client.DataChannel;
    try {
        if (OnRetrDataSent) OnRetrDataSent(*this, Client, data, AError);
        if (AError != 0) throw FtpServerException("Send: error #" + std::to_string(AError));
    } catch (const std::exception& e) {
        Client.EndReason = e.what();
        Client.AbortFlag = true;
        SendReply(Client, Fmt("426 Connection closed; %s.", Client.EndReason));
        PostMsg(MsgAbortData, Client);
        return;
    }
    SendNextBlock(Client);
}

void TFtpServer::ClientRetrSessionClosed(TFtpCtrlSocket& Client, uint16_t AError) {
    EndDataSession(Client);
    if (Client.AbortFlag)
        SendReply(Client,
                  Fmt(Client.AbortedByClient ? "426 Connection closed; %s." : "501 Cannot RETR. %s", Client.EndReason));
    else if (AError != 0)
        SendReply(Client, Fmt("501 Cannot RETR. %s", "Error #" + std::to_string(AError)));
    else
        SendReply(Client, "226 File sent ok");
    if (OnRetrSessionClosed) OnRetrSessionClosed(*this, Client, *Client.DataChannel, AError);
}

// --- uploads ------------------------------------------------------------------

void TFtpServer::ClientStorSessionConnected(TFtpCtrlSocket& Client, uint16_t AError) {
    Client.DataOpen = AError == 0;
    Client.TransferBytes = 0;
    if (Client.AbortFlag) return;
    Client.XferWaiter.Join(Client.UpGate);
    Client.XferWaiter.OnGrant = [&Client] { Client.DataChannel->Resume(); };
    if (OnStorSessionConnected) OnStorSessionConnected(*this, Client, *Client.DataChannel, AError);
    if (AError != 0) {
        // The connection failed: the close that follows reports it instead of success.
        Client.AbortFlag = true;
        Client.EndReason = "Client data socket connection error: " + std::to_string(AError);
    }
}

void TFtpServer::ClientStorDataAvailable(TFtpCtrlSocket& Client, uint16_t AError) {
    TWSocket& data = *Client.DataChannel;
    if (Client.XferBuffer.size() != size_t(XferBlockSize)) Client.XferBuffer.resize(size_t(XferBlockSize));
    char* buf = Client.XferBuffer.data();
    int want = XferBlockSize;
    // Under a speed limit no more is read than the account's share allows now; with
    // none, reading stops until the waiter's grant resumes it.
    if (Client.XferWaiter.Limited() && !Client.AbortFlag) {
        want = int(Client.XferWaiter.Allowed(want));
        if (want == 0) {
            data.Pause();
            return;
        }
    }
    const int len = data.Receive(buf, want);
    if (len > 0) Client.XferWaiter.Spend(len);
    if (len <= 0 || Client.AbortFlag) return;
    try {
        if (OnStorDataAvailable) OnStorDataAvailable(*this, Client, data, buf, len, AError);
        if (!Client.TransferPath.empty() && !Client.TransferStream()) {
            Client.OwnStream(
                std::make_unique<TFileStream>(Client.TransferPath, UploadFileMode(Client.XferCommandCode, Client)));
            if (Client.TransferStream()->Seek(Client.RestartOffset, TSeekOrigin::Begin) != Client.RestartOffset) {
                FailTransfer(Client, "Unable to set resume position in local file");
                return;
            }
        }
        if (TStream* st = Client.TransferStream()) {
            Client.TransferBytes += len;
            st->WriteBuffer(buf, size_t(len));
        }
    } catch (const std::exception& e) {
        FailTransfer(Client, e.what());
    }
}

void TFtpServer::ClientStorSessionClosed(TFtpCtrlSocket& Client, uint16_t AError) {
    // An upload that replaces a file and brought no bytes still replaces it: its old
    // content would otherwise stay behind a success reply.
    if (!Client.AbortFlag && AError == 0) {
        try {
            if (auto* file = dynamic_cast<TFileStream*>(Client.TransferStream())) file->Truncate();
        } catch (const std::exception& e) {
            Client.AbortFlag = true;
            Client.EndReason = e.what();
        }
    }
    EndDataSession(Client);
    if (OnStorSessionClosed) OnStorSessionClosed(*this, Client, *Client.DataChannel, AError);
    if (Client.AbortFlag)
        SendReply(Client, Fmt("426 Connection closed; %s.", Client.EndReason));
    else if (AError != 0)
        SendReply(Client, "426 Connection closed; transfer aborted. Error #" + std::to_string(AError));
    else if (Client.XferCommandCode == TFtpCommandCode::Stou)
        SendReply(Client, Fmt("250 '%s': file created.", Client.TransferName));
    else
        SendReply(Client, "226 File received ok");
}

} // namespace nubo
