// Commands of the working directory, login and session parameters.
#include "engine/FtpServer.h"
#include "platform/FileSystem.h"

namespace nubo {

namespace {
void ChangeDirCommand(TFtpServer& server, TFtpCtrlSocket& Client, const std::string& params, TFtpString& Answer) {
    const std::string saved = Client.CurrentDir;
    try {
        Client.ChangeDir(ToLocalSeparators(params)); // blanks belong to folder names
        bool allowed = true;
        if (server.OnChangeDirectory) server.OnChangeDirectory(server, Client, Client.CurrentDir, allowed);
        if (allowed) {
            Answer =
                Fmt("250 CWD command successful. \"%s\" is current directory.", ToClientSeparators(Client.CurrentDir));
            return;
        }
        // The host has moved to the folder it checked: a missing one is said so.
        const bool missing = !DirectoryExists(Client.CurrentDir);
        Client.CurrentDir = saved;
        Answer = missing ? Fmt("550 CWD failed. %s", "No such directory") : Fmt("501 CWD failed. %s", "No permission");
    } catch (const std::exception& e) {
        Client.CurrentDir = saved; // the remembered directory was accepted before
        Answer = Fmt("501 CWD failed. %s", e.what());
    }
}
} // namespace

void TFtpServer::CommandCWD(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Cwd;
    ChangeDirCommand(*this, Client, Params, Answer);
}

void TFtpServer::CommandCDUP(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Cdup;
    Params = "..";
    ChangeDirCommand(*this, Client, Params, Answer);
}

void TFtpServer::CommandPWD(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Pwd;
    Answer = Fmt("257 \"%s\" is current directory.", QuotedPath(ToClientSeparators(Client.CurrentDir)));
}

void TFtpServer::CommandXPWD(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Xpwd;
    Answer = Fmt("257 \"%s\" is current directory.", QuotedPath(ToClientSeparators(Client.CurrentDir)));
}

void TFtpServer::CommandUSER(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    Client.LastCommandCode = TFtpCommandCode::User;
    if (TlsContext && TlsRequired && !Client.TlsOn()) {
        Answer = "530 This server requires TLS: send AUTH TLS before USER.";
        return;
    }
    Client.UserName = TrimBlanks(Params);
    Client.FtpState = ftpcWaitingPassword;
    Answer = Fmt("331 Password required for %s.", Client.UserName);
}

namespace {
void LoginResult(TFtpCtrlSocket& Client, bool authenticated, TFtpString& Answer) {
    if (authenticated) {
        Client.FtpState = ftpcReady;
        Client.ChangeDir(Client.HomePath);
        Answer = Fmt("230-\r\n230 User %s logged in.", Client.UserName);
    } else {
        Client.FtpState = ftpcWaitingUserCode;
        Answer = "530 Login incorrect.";
    }
}
} // namespace

void TFtpServer::CommandPASS(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (Client.FtpState != ftpcWaitingPassword) {
        Answer = "503 Login with USER first.";
        return;
    }
    Client.LastCommandCode = TFtpCommandCode::Pass;
    Client.PassWord = TrimBlanks(Params);
    bool authenticated = true;
    if (OnAuthenticate) OnAuthenticate(*this, Client, Client.UserName, Client.PassWord, authenticated);
    if (Client.CommandsHeld()) return; // the handler finishes the login later
    LoginResult(Client, authenticated, Answer);
}

void TFtpServer::FinishLogin(TFtpCtrlSocket& Client, bool Authenticated, bool CloseAfter) {
    TFtpString answer;
    try {
        LoginResult(Client, Authenticated, answer);
    } catch (const std::exception& e) {
        answer = std::string("501 ") + e.what();
    }
    SendReply(Client, answer);
    if (CloseAfter) {
        PostMsg(MsgCloseRequest, Client);
        return;
    }
    Client.ReleaseCommands();
}

void TFtpServer::CommandQUIT(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    Client.LastCommandCode = TFtpCommandCode::Quit;
    Answer = "221 Goodbye.";
    PostMsg(MsgCloseRequest, Client);
}

void TFtpServer::CommandNOOP(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    Client.LastCommandCode = TFtpCommandCode::Noop;
    Answer = Fmt("200 Ok. Parameter was '%s'.", Params);
}

void TFtpServer::CommandSYST(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Syst;
    Answer = "215 UNIX Type: L8 Velmora";
}

void TFtpServer::CommandTYPE(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    Client.LastCommandCode = TFtpCommandCode::Type;
    const std::string t = UpperCase(TrimBlanks(Params));
    if (t == "A" || t == "A N" || t == "I") {
        Answer = Fmt("200 Type set to %s.", Params);
        Client.BinaryType = t == "I";
    } else {
        Answer = Fmt("500 'TYPE %s': command not understood.", Params);
    }
}

void TFtpServer::CommandMODE(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    if (!CheckLoggedIn(Client, Answer)) return;
    if (Params.empty())
        Answer = "501 Missing argument for MODE";
    else if (Params == "S" || Params == "s")
        Answer = "200 MODE Ok";
    else
        Answer = "502 MODE other than S not supported";
}

void TFtpServer::CommandSTRU(TFtpCtrlSocket& Client, TFtpString&, TFtpString& Params, TFtpString& Answer) {
    Client.LastCommandCode = TFtpCommandCode::Stru;
    Answer = Fmt("200 Ok. STRU parameter '%s' ignored.", Params);
}

void TFtpServer::CommandOVER(TFtpCtrlSocket& Client, TFtpString&, TFtpString&, TFtpString& Answer) {
    Client.Shutdown(0);
    char junk[1024];
    while (Client.Receive(junk, sizeof junk) > 0) {
    }
    Answer = "500 Command too long";
    PostMsg(MsgCloseRequest, Client);
}

} // namespace nubo
