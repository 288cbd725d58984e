// Encrypted sessions: AUTH TLS on the control connection, PBSZ and PROT for the data
// connections, CCC refused, and the checks of a server that requires TLS.
#include "engine/FtpServer.h"

namespace nubo {

bool TFtpServer::CheckTlsOffered(const TFtpString& Keyword, TFtpString& Answer) const {
    if (TlsContext) return true;
    Answer = Fmt("500 '%s': command not understood.", Keyword);
    return false;
}

void TFtpServer::CommandAUTH(TFtpCtrlSocket& Client, TFtpString& Keyword, TFtpString& Params, TFtpString& Answer) {
    if (!CheckTlsOffered(Keyword, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Auth;
    const std::string mechanism = UpperCase(TrimBlanks(Params));
    if (Client.TlsOn()) {
        Answer = "503 TLS is already active.";
    } else if (Client.FtpState == ftpcReady) {
        // The session that logged in in clear stays what it is: its login is counted.
        Answer = "503 AUTH comes before the login.";
    } else if (mechanism != "TLS" && mechanism != "SSL" && mechanism != "TLS-C") {
        Answer = Fmt("504 AUTH %s is not supported; use AUTH TLS.", PrintableText(Params));
    } else {
        // A new security state begins: the login and data settings of the clear one end,
        // and bytes sent behind the command are dropped, never read as encrypted commands.
        Client.FtpState = ftpcWaitingUserCode;
        Client.PbszSet = Client.ProtectData = false;
        Client.DropPendingLines();
        Client.TlsAfterReply = true;
        Answer = "234 AUTH " + mechanism + " successful.";
    }
}

void TFtpServer::CommandPBSZ(TFtpCtrlSocket& Client, TFtpString& Keyword, TFtpString& Params, TFtpString& Answer) {
    if (!CheckTlsOffered(Keyword, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Pbsz;
    const std::string size = TrimBlanks(Params);
    if (!Client.TlsOn()) {
        Answer = "503 PBSZ needs an encrypted control connection: send AUTH TLS first.";
    } else if (size.empty() || size.find_first_not_of("0123456789") != std::string::npos) {
        Answer = "501 PBSZ needs a number.";
    } else {
        // TLS protects whole records: no buffer size applies, and 0 says so.
        Client.PbszSet = true;
        Answer = "200 PBSZ=0";
    }
}

void TFtpServer::CommandPROT(TFtpCtrlSocket& Client, TFtpString& Keyword, TFtpString& Params, TFtpString& Answer) {
    if (!CheckTlsOffered(Keyword, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Prot;
    const std::string level = UpperCase(TrimBlanks(Params));
    if (!Client.TlsOn() || !Client.PbszSet) {
        Answer = "503 PROT needs PBSZ first.";
    } else if (level == "P") {
        Client.ProtectData = true;
        Answer = "200 Protection level set to P.";
    } else if (level == "C" && TlsRequired) {
        Answer = "534 Protection level C is refused: data connections must be encrypted.";
    } else if (level == "C") {
        Client.ProtectData = false;
        Answer = "200 Protection level set to C.";
    } else if (level == "S" || level == "E") {
        Answer = Fmt("536 Protection level %s is not supported.", level);
    } else {
        Answer = "504 PROT takes C or P.";
    }
}

void TFtpServer::CommandCCC(TFtpCtrlSocket& Client, TFtpString& Keyword, TFtpString&, TFtpString& Answer) {
    if (!CheckTlsOffered(Keyword, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Ccc;
    Answer = Client.TlsOn() ? "534 CCC is refused: the control connection stays encrypted."
                            : "533 CCC needs an encrypted control connection.";
}

bool TFtpServer::CheckDataProtection(TFtpCtrlSocket& Client, TFtpString& Answer) {
    if (!TlsContext || !TlsRequired || Client.ProtectData) return true;
    Answer = "521 Data connections must be encrypted: send PBSZ 0 and PROT P first.";
    DisarmPassive(Client, Answer);
    return false;
}

void TFtpServer::SecureControl(TFtpCtrlSocket& Client) {
    Client.OnTlsDone = [this](TCustomWSocket& s, uint16_t err) {
        if (OnClientSecured) OnClientSecured(*this, static_cast<TFtpCtrlSocket&>(s), err);
    };
    Client.StartTls(TlsContext);
}

// The data connection must resume the control connection's TLS session: a thief who
// reaches the data port first cannot, as he does not hold that session.
void TFtpServer::ProtectChannel(TFtpCtrlSocket& Client, TCustomWSocket& data) {
    if (!TlsContext || !Client.ProtectData || !Client.Tls() || data.TlsOn() || data.State() != wsConnected) return;
    TFtpCtrlSocket* c = &Client;
    data.OnTlsDone = [this, c](TCustomWSocket& d, uint16_t err) {
        if (err == 0) CheckDataResumption(*c, d);
    };
    Client.DataTlsTick = TickCount();
    data.StartTls(TlsContext, Client.Tls()->SessionMark());
}

void TFtpServer::CheckDataResumption(TFtpCtrlSocket& Client, TCustomWSocket& data) {
    if (data.Tls() && Client.Tls() && data.Tls()->ResumedWith(Client.Tls()->SessionMark())) return;
    RefuseDataChannel(Client, data, "its TLS session is not the control connection's");
}

void TFtpServer::RefuseDataChannel(TFtpCtrlSocket& Client, TCustomWSocket& data, const std::string& reason) {
    ReportError("data connection of [" + std::to_string(Client.ConnectionId) + "] " + Client.PeerAddr(),
                reason + "; the data connection is refused.");
    if (Client.PassiveOn && !Client.PassivePending && !Client.DataOpen) {
        // No command waits for it yet: it goes, and the command that comes finds it gone.
        data.OnSessionClosed = nullptr;
        data.Close();
        return;
    }
    FailTransfer(Client, "Data connection refused: " + reason);
}

} // namespace nubo
