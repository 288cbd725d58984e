// The server component over real loopback connections: line assembly, dispatch,
// events, limits and the private close messages.
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "engine/FtpServer.h"
#include "tests/support/Loopback.h"
#include "tests/support/RunUntil.h"

using namespace nubo;
using nubo::test::ConnectLoopback;
using nubo::test::RunRounds;
using nubo::test::RunUntil;
using nubo::test::WaitUntil;

namespace {

struct Client {
    int fd = -1;
    std::string buf;
    explicit Client(const std::string& port) : fd(ConnectLoopback(std::stoi(port))) { EXPECT_GE(fd, 0); }
    ~Client() { close(fd); }
    void Send(const std::string& s) { ASSERT_EQ(send(fd, s.data(), s.size(), 0), ssize_t(s.size())); }
    // One round of the loop, then what arrived; false once the server has closed.
    bool Receive() {
        TEventLoop::Current().RunOnce(2);
        char tmp[4096];
        const ssize_t n = recv(fd, tmp, sizeof tmp, MSG_DONTWAIT);
        if (n > 0) buf.append(tmp, size_t(n));
        return n > 0 || (n < 0 && errno == EAGAIN);
    }
    // Reads while the loop runs; false when the connection closed first.
    bool Fill(const std::function<bool()>& enough) {
        bool open = true;
        WaitUntil([&] { return !open || enough(); }, [&] { open = Receive(); }, 3000);
        return enough();
    }
    std::string Line() {
        Fill([&] { return buf.find("\r\n") != std::string::npos; });
        size_t p = buf.find("\r\n");
        if (p == std::string::npos) return "<none>";
        std::string l = buf.substr(0, p);
        buf.erase(0, p + 2);
        return l;
    }
    std::string Cmd(const std::string& line) {
        Send(line + "\r\n");
        return Line();
    }
    bool ClosedByServer() {
        bool closed = false;
        return WaitUntil([&] { return closed; }, [&] { closed = !Receive(); }, 3000);
    }
};

struct ServerFixture : ::testing::Test {
    TFtpServer server;
    std::vector<std::string> commands;
    void SetUp() override {
        server.Addr = "127.0.0.1";
        server.Port = "0";
        server.Banner = "220 test ready";
        server.Start();
        ASSERT_TRUE(server.Listening());
    }
    void TearDown() override {
        server.DropAllClients();
        server.Stop();
        RunRounds(5);
    }
    std::string Port() { return server.ListenSocket().BoundPort(); }
    // Records every command line and answers it without running it.
    void RecordCommands() {
        server.OnClientCommand = [this](TFtpServer&, TFtpCtrlSocket&, TFtpString& k, TFtpString& p, TFtpString& a) {
            commands.push_back(k + "|" + p);
            a = "200 seen";
        };
    }
};

} // namespace

TEST_F(ServerFixture, LinesAreAssembledAcrossSegments) {
    RecordCommands();
    Client c(Port());
    EXPECT_EQ(c.Line(), "220 test ready");
    c.Send("NOOP a\r\nSYST\r\n"); // two lines in one segment
    c.Send("US");                 // a line split over segments
    RunRounds(5);
    EXPECT_EQ(commands.size(), 2u);
    c.Send("ER x\n");        // lone LF ends a line too
    c.Send("RETR a\rb\r\n"); // an inner CR stays
    c.Send("\r\n");          // CR LF alone is a line of one CR
    c.Fill([&] { return commands.size() >= 5; });
    EXPECT_EQ(commands, (std::vector<std::string>{"NOOP|a", "SYST|", "USER|x", "RETR|a\rb", "|\r"}));
}

TEST_F(ServerFixture, OverLongLineBecomesOverAndCloses) {
    Client c(Port());
    c.Line();
    c.Send(std::string(3000, 'A'));
    EXPECT_EQ(c.Line(), "500 Command too long");
    EXPECT_TRUE(c.ClosedByServer());
    RunRounds(5);
    EXPECT_EQ(server.ConnectionCount(), 0);
}

TEST_F(ServerFixture, RcvSizeSetsTheLineLimit) {
    server.OnClientConnect = [](TFtpServer&, TFtpCtrlSocket& cl, int) { cl.SetRcvSize(100); };
    RecordCommands();
    Client c(Port());
    c.Line();
    c.Send(std::string(97, 'N') + "\r\n"); // 99 bytes with its line end fit
    c.Fill([&] { return commands.size() == 1; });
    EXPECT_EQ(commands.back(), std::string(97, 'N') + "|");
    c.Send(std::string(99, 'N'));
    c.Fill([&] { return commands.size() == 2; });
    EXPECT_EQ(commands.back(), "OVER|");
}

TEST_F(ServerFixture, RcvSizeCannotChangeWithBufferedBytes) {
    TFtpCtrlSocket* cl = nullptr;
    server.OnClientConnect = [&](TFtpServer&, TFtpCtrlSocket& x, int) { cl = &x; };
    Client c(Port());
    c.Line();
    c.Send("NOO");
    RunRounds(5);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(cl->LineFill, 3);
    try {
        cl->SetRcvSize(10);
        FAIL();
    } catch (const EFtpCtrlSocketException& e) {
        EXPECT_STREQ(e.what(), "Data in buffer, can't change size");
    }
}

TEST_F(ServerFixture, DispatchRepliesAndEvents) {
    Client c(Port());
    EXPECT_EQ(c.Line(), "220 test ready");
    EXPECT_EQ(c.Cmd("STOR2 x"), "500 'STOR2': command not understood.");
    EXPECT_EQ(c.Cmd("?"), "500 '?': command not understood.");
    EXPECT_EQ(c.Cmd("   "), "500 '': command not understood.");
    EXPECT_EQ(c.Cmd("  noop   a b "), "200 Ok. Parameter was '  a b '.");
    EXPECT_EQ(c.Cmd("SYST"), "530 Please login with USER and PASS.");
    EXPECT_EQ(c.Cmd("PASS x"), "503 Login with USER first.");
    EXPECT_EQ(c.Cmd("USER  bob "), "331 Password required for bob.");
    EXPECT_EQ(c.Cmd("PASS x"), "230-");
    EXPECT_EQ(c.Line(), "230 User bob logged in.");
    EXPECT_EQ(c.Cmd("PASS x"), "503 Login with USER first.");
    EXPECT_EQ(c.Cmd("PWD"), "257 \"C:/TEMP/\" is current directory.");
    EXPECT_EQ(c.Cmd("CWD ../x"), "250 CWD command successful. \"C:/x/\" is current directory.");
    EXPECT_EQ(c.Cmd("CWD //srv/share"), "501 CWD failed. Cannot accept UNC path");
    EXPECT_EQ(c.Cmd("CWD /D:/data"), "250 CWD command successful. \"D:/data/\" is current directory.");
    EXPECT_EQ(c.Cmd("XPWD"), "257 \"D:/data/\" is current directory.");
    EXPECT_EQ(c.Cmd("CDUP"), "250 CWD command successful. \"D:/\" is current directory.");
    EXPECT_EQ(c.Cmd("TYPE i"), "200 Type set to i.");
    EXPECT_EQ(c.Cmd("TYPE L 8"), "500 'TYPE L 8': command not understood.");
    EXPECT_EQ(c.Cmd("MODE s"), "200 MODE Ok");
    EXPECT_EQ(c.Cmd("MODE S "), "502 MODE other than S not supported");
    EXPECT_EQ(c.Cmd("MODE"), "501 Missing argument for MODE");
    EXPECT_EQ(c.Cmd("STRU F"), "200 Ok. STRU parameter 'F' ignored.");

    // The host's events: a refused directory, a rewritten answer, a failing handler.
    server.OnChangeDirectory = [](TFtpServer&, TFtpCtrlSocket&, const TFtpString&, bool& allowed) { allowed = false; };
    EXPECT_EQ(c.Cmd("CWD /x"), "550 CWD failed. No such directory");
    EXPECT_EQ(c.Cmd("CWD /C:/tmp"), "501 CWD failed. No permission");
    EXPECT_EQ(c.Cmd("PWD"), "257 \"D:/\" is current directory.");
    server.OnAnswerToClient = [](TFtpServer&, TFtpCtrlSocket&, TFtpString& a) { a = "299 " + a; };
    EXPECT_EQ(c.Cmd("NOOP"), "299 200 Ok. Parameter was ''.");
    server.OnAnswerToClient = nullptr;
    server.OnClientCommand = [](TFtpServer&, TFtpCtrlSocket&, TFtpString& k, TFtpString&, TFtpString&) {
        if (k == "SYST") throw std::runtime_error("boom");
    };
    EXPECT_EQ(c.Cmd("SYST"), "501 boom");
    EXPECT_EQ(c.Cmd("PWD"), "257 \"D:/\" is current directory.");
    EXPECT_EQ(c.Cmd("QUIT"), "221 Goodbye.");
    EXPECT_TRUE(c.ClosedByServer());
}

// HELP reads the command table: a command registered later is listed and explained, the
// control connection's own OVER is not, and all of it works before the login.
TEST_F(ServerFixture, HelpFollowsTheCommandTable) {
    server.RegisterCommand("XTRA", &TFtpServer::CommandNOOP, "XTRA <sp> anything");
    server.RegisterCommand("XBARE", &TFtpServer::CommandNOOP);
    Client c(Port());
    EXPECT_EQ(c.Line(), "220 test ready");
    EXPECT_EQ(c.Cmd("HELP"), "214-The following commands are recognized:");
    std::string listed;
    for (std::string line = c.Line(); line.rfind("214 ", 0) != 0 && line != "<none>"; line = c.Line())
        listed += line + " ";
    EXPECT_NE(listed.find(" XTRA "), std::string::npos) << listed;
    EXPECT_NE(listed.find(" XBARE "), std::string::npos) << listed;
    EXPECT_EQ(listed.find("OVER"), std::string::npos) << listed;
    EXPECT_EQ(c.Cmd("HELP xtra"), "214 Syntax: XTRA <sp> anything");
    EXPECT_EQ(c.Cmd("HELP XBARE"), "214 Syntax: XBARE");
    EXPECT_EQ(c.Cmd("HELP XNONE"), "502 Unknown command 'XNONE'.");
    EXPECT_EQ(c.Cmd("XTRA 1"), "200 Ok. Parameter was '1'.");
}

TEST_F(ServerFixture, FailedLoginAndUserAgain) {
    server.OnAuthenticate = [](TFtpServer&, TFtpCtrlSocket&, const TFtpString& u, const TFtpString& p, bool& ok) {
        ok = u == "bob" && p == "pw";
    };
    Client c(Port());
    c.Line();
    c.Cmd("USER bob");
    EXPECT_EQ(c.Cmd("PASS bad"), "530 Login incorrect.");
    EXPECT_EQ(c.Cmd("PASS pw"), "503 Login with USER first.");
    c.Cmd("USER bob");
    EXPECT_EQ(c.Cmd("PASS pw"), "230-");
    c.Line();
    EXPECT_EQ(c.Cmd("USER bob"), "331 Password required for bob.");
    EXPECT_EQ(c.Cmd("SYST"), "530 Please login with USER and PASS.");
}

TEST_F(ServerFixture, MaxClientsRefusesTheThird) {
    server.MaxClients = 2;
    Client a(Port()), b(Port());
    EXPECT_EQ(a.Line(), "220 test ready");
    EXPECT_EQ(b.Line(), "220 test ready");
    Client c(Port());
    EXPECT_EQ(c.Line(), "421 Too many users connected.");
    EXPECT_TRUE(c.ClosedByServer());
    RunRounds(5);
    EXPECT_EQ(server.ConnectionCount(), 2);
}

TEST_F(ServerFixture, ConnectAndDisconnectEvents) {
    std::vector<std::string> seen;
    server.OnClientConnect = [&](TFtpServer&, TFtpCtrlSocket& cl, int) {
        seen.push_back("connect " + std::to_string(cl.ConnectionId));
        if (cl.ConnectionId == 2) cl.Close(); // the handler closes: no greeting
    };
    server.OnClientDisconnect = [&](TFtpServer& s, TFtpCtrlSocket& cl, int) {
        seen.push_back("disconnect " + std::to_string(cl.ConnectionId) + " " + cl.PeerAddr() + " " +
                       std::to_string(s.ConnectionCount()));
    };
    {
        Client a(Port());
        EXPECT_EQ(a.Line(), "220 test ready");
    }
    RunUntil([&] { return seen.size() >= 2; });
    Client b(Port());
    EXPECT_TRUE(b.ClosedByServer());
    EXPECT_EQ(b.buf, "");
    RunRounds(10);
    server.OnClientConnect = server.OnClientDisconnect = nullptr;
    EXPECT_EQ(seen, (std::vector<std::string>{"connect 1", "disconnect 1 127.0.0.1 0", "connect 2",
                                              "disconnect 2 127.0.0.1 0"}));
}

TEST_F(ServerFixture, FailingHandlersAreReportedAndTheServerGoesOn) {
    std::vector<std::string> caught;
    server.OnCaughtError = [&](TFtpServer&, const std::string& where, const std::string& what) {
        caught.push_back(where + ": " + what);
    };
    server.OnClientConnect = [](TFtpServer&, TFtpCtrlSocket& cl, int) {
        if (cl.ConnectionId == 1) throw std::runtime_error("connect boom");
    };
    server.OnClientDisconnect = [](TFtpServer&, TFtpCtrlSocket&, int) { throw 42; };
    Client a(Port());
    EXPECT_TRUE(a.ClosedByServer()); // the failing connect costs this connection only
    RunUntil([&] { return caught.size() >= 2; });
    Client b(Port());
    EXPECT_EQ(b.Line(), "220 test ready");
    // What a handler lets out past the engine reaches the socket, which reports it too.
    server.OnClientCommand = [](TFtpServer&, TFtpCtrlSocket&, TFtpString& keyword, TFtpString&, TFtpString&) {
        if (keyword == "BOOM") throw 7;
    };
    b.Send("BOOM\r\n");
    RunUntil([&] { return caught.size() >= 3; });
    EXPECT_EQ(b.Cmd("NOOP"), "200 Ok. Parameter was ''.");
    server.OnClientConnect = server.OnClientDisconnect = nullptr;
    server.OnClientCommand = nullptr;
    server.OnCaughtError = nullptr;
    EXPECT_EQ(caught, (std::vector<std::string>{"connect handler: connect boom", "disconnect handler: unknown error",
                                                "control connection: an exception of unknown type"}));
}

TEST_F(ServerFixture, StaleCloseRequestDoesNothing) {
    TFtpCtrlSocket* first = nullptr;
    server.OnClientConnect = [&](TFtpServer&, TFtpCtrlSocket& cl, int) {
        if (!first) first = &cl;
    };
    Client a(Port());
    a.Line();
    ASSERT_NE(first, nullptr);
    TFtpCtrlSocket* cl = server.Connection(0);
    ASSERT_EQ(cl, first);
    server.PostMsg(MsgCloseRequest, *cl);
    cl->ConnectionId = 99; // the message's number no longer matches
    RunRounds(10);
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_EQ(a.Cmd("NOOP"), "200 Ok. Parameter was ''.");
    EXPECT_EQ(server.Connection(5), nullptr);
    EXPECT_EQ(server.Connection(-1), nullptr);
}

TEST_F(ServerFixture, StartAndStopEvents) {
    std::vector<std::string> seen;
    server.OnStart = [&](TFtpServer&) { seen.push_back("start"); };
    server.OnStop = [&](TFtpServer&) { seen.push_back("stop"); };
    server.Start(); // already listening: nothing
    server.Stop();
    server.Port = "0";
    server.Start();
    EXPECT_EQ(seen, (std::vector<std::string>{"stop", "start"}));
    server.OnStart = server.OnStop = nullptr;
}

// Dropped clients leave their connections in the closing wait on the server's port;
// a restart must still get that port at once, as it does on Windows.
TEST_F(ServerFixture, RestartTakesThePortClientsJustLeft) {
    const std::string port = Port();
    {
        Client a(port), b(port);
        EXPECT_EQ(a.Line(), "220 test ready");
        EXPECT_EQ(b.Line(), "220 test ready");
        server.DropAllClients();
        EXPECT_TRUE(a.ClosedByServer());
        EXPECT_TRUE(b.ClosedByServer());
    }
    RunRounds(5);
    server.Stop();
    server.Port = port;
    server.Start();
    EXPECT_TRUE(server.Listening());
    EXPECT_EQ(Port(), port);
    TFtpServer second; // while one listens, the port is still its own
    second.Addr = "127.0.0.1";
    second.Port = port;
    EXPECT_THROW(second.Start(), ESocketException);
}
