// Drives real loopback sockets through the event orders of the socket layer.
#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "socket/EventLoop.h"
#include "socket/WSocket.h"
#include "tests/support/Loopback.h"
#include "tests/support/RunUntil.h"

using namespace nubo;
using nubo::test::ConnectLoopback;
using nubo::test::RunRounds;
using nubo::test::RunUntil;

namespace {

// A listener on an ephemeral loopback port whose accepted handle is kept.
struct Listener {
    TWSocket sock;
    int accepted = -1;
    Listener() {
        sock.SetAddr("127.0.0.1");
        sock.SetPort("0");
        sock.OnSessionAvailable = [this](TCustomWSocket& s, uint16_t) { accepted = s.Accept().Release(); };
        sock.Listen();
    }
    std::string port() const { return sock.BoundPort(); }
};

// The message of the exception f raises.
std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(no error)";
}

struct Recorder {
    std::vector<std::string> events;
    void Attach(TCustomWSocket& s) {
        s.OnSessionConnected = [this](TCustomWSocket&, uint16_t e) {
            events.push_back("connected " + std::to_string(e));
        };
        s.OnSessionClosed = [this](TCustomWSocket&, uint16_t e) { events.push_back("closed " + std::to_string(e)); };
        s.OnDataSent = [this](TCustomWSocket&, uint16_t e) { events.push_back("sent " + std::to_string(e)); };
    }
    size_t Count(const std::string& e) const { return size_t(std::count(events.begin(), events.end(), e)); }
};

// The congestion control a handle ended with, as the kernel reports it.
std::string CongestionOf(int fd) {
    char name[32] = {};
    socklen_t l = sizeof name;
    if (getsockopt(fd, IPPROTO_TCP, TCP_CONGESTION, name, &l) < 0) return "error";
    return name;
}

// Starts a connection to a port of this host.
void ConnectLocal(TWSocket& c, const std::string& port) {
    c.SetAddr("127.0.0.1");
    c.SetPort(port);
    c.Connect();
}

} // namespace

TEST(WSocket, ConnectGivesOneDataSentThenOnePerDrainedSend) {
    Listener l;
    TWSocket c;
    Recorder r;
    r.Attach(c);
    ConnectLocal(c, l.port());
    EXPECT_EQ(c.State(), wsConnecting);
    ASSERT_TRUE(RunUntil([&] { return r.Count("sent 0") == 1 && l.accepted >= 0; }));
    EXPECT_EQ(r.events, (std::vector<std::string>{"connected 0", "sent 0"}));
    EXPECT_EQ(c.State(), wsConnected);

    EXPECT_EQ(c.SendStr("hello"), 5);
    EXPECT_EQ(c.SendStr("world"), 5);
    ASSERT_TRUE(RunUntil([&] { return r.Count("sent 0") == 3; }));
    char buf[16] = {};
    ASSERT_EQ(recv(l.accepted, buf, sizeof buf, MSG_WAITALL), 10);
    EXPECT_EQ(std::string(buf, 10), "helloworld");

    // Send of nothing is still followed by one OnDataSent; SendStr("") by nothing.
    EXPECT_EQ(c.Send("", 0), 0);
    EXPECT_EQ(c.SendStr(""), 0);
    RunRounds(20, 5);
    EXPECT_EQ(r.Count("sent 0"), 4u);
    close(l.accepted);
}

TEST(WSocket, LargeSendIsDeliveredInOrderWithOneDataSentAfterDraining) {
    Listener l;
    TWSocket c;
    Recorder r;
    r.Attach(c);
    ConnectLocal(c, l.port());
    ASSERT_TRUE(RunUntil([&] { return r.Count("sent 0") == 1 && l.accepted >= 0; }));
    std::string big(8 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char(i * 7 + i / 4096);
    c.SendStr(big);
    EXPECT_FALSE(c.AllSent()); // 8 MiB cannot fit the kernel's buffers at once
    std::string got;
    char buf[65536];
    while (got.size() < big.size()) {
        TEventLoop::Current().RunOnce(0);
        ssize_t n = recv(l.accepted, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) got.append(buf, size_t(n));
    }
    ASSERT_TRUE(RunUntil([&] { return r.Count("sent 0") == 2; }));
    EXPECT_TRUE(got == big);
    EXPECT_TRUE(c.AllSent());
    close(l.accepted);
}

TEST(WSocket, RefusedConnectGives10061ThenClosed) {
    int port;
    {
        Listener l; // take a free port, then release it so nothing listens there
        port = std::stoi(l.port());
    }
    TWSocket c;
    Recorder r;
    r.Attach(c);
    ConnectLocal(c, std::to_string(port));
    ASSERT_TRUE(RunUntil([&] { return r.events.size() >= 2; }));
    EXPECT_EQ(r.events, (std::vector<std::string>{"connected 10061", "closed 0"}));
    EXPECT_EQ(c.State(), wsClosed);
    // Port and Addr are no longer assigned after a close.
    EXPECT_EQ(ErrorOf([&] { c.Connect(); }), "Connect: No Port Specified");
}

TEST(WSocket, PeerCloseDrainsAllDataBeforeOneSessionClosed) {
    for (bool noReceiveLoop : {false, true}) {
        Listener l;
        int client = ConnectLoopback(std::stoi(l.port()));
        ASSERT_GE(client, 0);
        ASSERT_TRUE(RunUntil([&] { return l.accepted >= 0; }));
        TWSocket s;
        if (noReceiveLoop) s.ComponentOptions = wsoNoReceiveLoop;
        std::string got;
        int closedCount = 0;
        size_t atClose = 0;
        s.OnDataAvailable = [&](TCustomWSocket& self, uint16_t) {
            char buf[100]; // small reads: several calls are needed
            int n = self.Receive(buf, sizeof buf);
            if (n > 0) got.append(buf, size_t(n));
        };
        s.OnSessionClosed = [&](TCustomWSocket&, uint16_t) {
            ++closedCount;
            atClose = got.size();
        };
        s.SetHSocket(l.accepted);
        std::string payload(5000, 'x');
        ASSERT_EQ(send(client, payload.data(), payload.size(), 0), ssize_t(payload.size()));
        close(client);
        ASSERT_TRUE(RunUntil([&] { return closedCount > 0; }));
        RunRounds(10, 5);
        EXPECT_EQ(closedCount, 1);
        EXPECT_EQ(atClose, payload.size()) << "noReceiveLoop=" << noReceiveLoop;
        EXPECT_EQ(s.State(), wsClosed);
    }
}

TEST(WSocket, CloseFiresSessionClosedOnce) {
    Listener l;
    int client = ConnectLoopback(std::stoi(l.port()));
    ASSERT_TRUE(RunUntil([&] { return l.accepted >= 0; }));
    TWSocket s;
    int closed = 0;
    s.OnSessionClosed = [&](TCustomWSocket& self, uint16_t) {
        ++closed;
        self.Close(); // closing again inside the event fires nothing more
    };
    s.SetHSocket(l.accepted);
    s.Close();
    s.Close();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(s.State(), wsClosed);
    close(client);
}

TEST(WSocket, SendOutsideConnectedStateReports10057) {
    TWSocket s;
    EXPECT_EQ(ErrorOf([&] { s.SendStr("x"); }), "Error 10057 in function Send\r\nSocket is not connected");
    EXPECT_EQ(s.LastError, 10057);

    Listener l;
    TWSocket c;
    Recorder r;
    r.Attach(c);
    ConnectLocal(c, l.port());
    ASSERT_EQ(c.State(), wsConnecting);
    EXPECT_THROW(c.SendStr("x"), ESocketException);
    EXPECT_EQ(c.State(), wsClosed);
    EXPECT_EQ(r.events, (std::vector<std::string>{"closed 10057"}));
}

TEST(WSocket, AdoptionErrorsAndListenerTakeover) {
    TWSocket s;
    EXPECT_EQ(ErrorOf([&] { s.SetHSocket(INVALID_SOCKET); }), "Error 10022 in function Dup\r\nInvalid argument");
    // A listening socket that adopts a handle closes its listener first and ends
    // connected, with no OnSessionConnected but one OnDataSent.
    Listener l;
    int client = ConnectLoopback(std::stoi(l.port()));
    ASSERT_TRUE(RunUntil([&] { return l.accepted >= 0; }));
    Recorder r;
    r.Attach(l.sock);
    l.sock.SetHSocket(l.accepted);
    EXPECT_EQ(l.sock.State(), wsConnected);
    ASSERT_TRUE(RunUntil([&] { return r.Count("sent 0") == 1; }));
    EXPECT_EQ(r.events, (std::vector<std::string>{"sent 0"}));
    close(client);
}

TEST(WSocket, ConnectionsKeepTheSystemsCongestionControl) {
    // The operator's TCP policy stands, loopback peers included.
    std::ifstream sys("/proc/sys/net/ipv4/tcp_congestion_control");
    std::string want;
    ASSERT_TRUE(std::getline(sys, want));
    Listener l;
    TWSocket c, adopted;
    ConnectLocal(c, l.port());
    ASSERT_TRUE(RunUntil([&] { return c.State() == wsConnected && l.accepted >= 0; }));
    adopted.SetHSocket(l.accepted);
    EXPECT_EQ(CongestionOf(c.HSocket()), want);
    EXPECT_EQ(CongestionOf(adopted.HSocket()), want);
}

TEST(WSocket, SettersAndResolution) {
    TWSocket s;
    s.SetAddr("  127.0.0.1 ");
    EXPECT_EQ(s.Addr(), "127.0.0.1");
    s.SetAddr("");
    s.SetPort("21");
    EXPECT_EQ(ErrorOf([&] { s.Connect(); }), "Connect: No IP Address Specified");
    s.SetAddr("300.1.1.1");
    EXPECT_EQ(ErrorOf([&] {
                  s.Connect();
              }).rfind("connect: WSocketResolveHost: Cannot convert host address '300.1.1.1', Error #", 0),
              0u);
    EXPECT_EQ(WSocketResolvePort("ftp", "tcp"), 21);
    EXPECT_EQ(WSocketResolvePort("ftp-data", "tcp"), 20);
    EXPECT_EQ(WSocketResolvePort("2121abc", "tcp"), 2121);
    EXPECT_EQ(WSocketResolvePort("70000", "tcp"), 70000 & 0xFFFF);
    EXPECT_THROW(WSocketResolvePort("", "tcp"), ESocketException);
    EXPECT_EQ(WSocketResolveProto("tcp"), 6);
    EXPECT_EQ(WSocketResolveProto("17"), 17);

    Listener l;
    EXPECT_THROW(l.sock.SetPort("1"), ESocketException); // not closed
    TWSocket other;
    other.SetAddr("127.0.0.1");
    other.SetPort(l.port());
    EXPECT_EQ(ErrorOf([&] { other.Listen(); }), "Error 10048 in function Bind\r\nAddress already in use");
}

TEST(SocketErrors, TextsOfNumbers) {
    EXPECT_EQ(SocketErrorText(0), "No Error");
    EXPECT_EQ(SocketErrorText(10061), "Connection refused");
    EXPECT_EQ(SocketErrorText(11004), "No Data");
    EXPECT_EQ(SocketErrorText(12345), "Not a WinSock error");
    EXPECT_EQ(MapSystemError(ECONNRESET), 10054);
    EXPECT_EQ(MapSystemError(EWOULDBLOCK), 10035);
    EXPECT_EQ(MapSystemError(ECONNREFUSED), 10061);
}

TEST(EventLoop, PostedCallsRunInOrderAndGuardsDropDeadTargets) {
    TEventLoop& loop = TEventLoop::Current();
    std::vector<int> order;
    auto guard = std::make_shared<char>(0);
    loop.Post([&] { order.push_back(1); });
    loop.Post(guard, [&] { order.push_back(2); });
    loop.Post([&] { order.push_back(3); });
    guard.reset();
    RunUntil([&] { return order.size() >= 2; });
    RunRounds(3, 0);
    EXPECT_EQ(order, (std::vector<int>{1, 3}));
}

// Run() needs no wake-up for calls posted by calls (a chain must not stall), while a
// call posted from outside makes the descriptor readable for an outer loop to see.
TEST(EventLoop, RunFollowsPostedChainsAndOutsidePostsWakeTheDescriptor) {
    TEventLoop& loop = TEventLoop::Current();
    int n = 0;
    std::function<void()> step = [&] {
        if (++n == 1000)
            loop.Quit();
        else
            loop.Post(step);
    };
    loop.Post(step);
    loop.Run();
    EXPECT_EQ(n, 1000);

    pollfd p{loop.Fd(), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    loop.Post([&] { n = -1; });
    EXPECT_EQ(poll(&p, 1, 0), 1);
    loop.RunOnce(0);
    EXPECT_EQ(n, -1);
    EXPECT_EQ(poll(&p, 1, 0), 0);
}

// The socket layer speaks TCP only; any other protocol is refused before a handle is made.
TEST(WSocket, ProtocolOtherThanTcpIsRefused) {
    TWSocket s;
    s.SetAddr("127.0.0.1");
    s.SetPort("0");
    s.SetProto("udp");
    EXPECT_EQ(ErrorOf([&] { s.Listen(); }), "listen: Protocol not supported: 'udp'");
    EXPECT_EQ(s.LastError, 10043);
    EXPECT_EQ(s.HSocket(), INVALID_SOCKET);
}

// A unique descriptor closes what it holds exactly once, and hands it on by move or Release.
TEST(UniqueFd, ClosesOnceAndMovesOwnership) {
    auto isOpen = [](int fd) { return fcntl(fd, F_GETFD) >= 0; };
    int raw = open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(raw, 0);
    {
        TUniqueFd a(raw);
        TUniqueFd b(std::move(a));
        EXPECT_FALSE(a);
        EXPECT_EQ(b.Get(), raw);
        TUniqueFd c;
        c = std::move(b);
        EXPECT_TRUE(isOpen(raw));
    }
    EXPECT_FALSE(isOpen(raw));

    raw = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int kept;
    {
        TUniqueFd a(raw);
        kept = a.Release();
    }
    EXPECT_TRUE(isOpen(kept));
    TUniqueFd again(kept);
    again.Reset();
    EXPECT_FALSE(isOpen(kept));
}

// A data handler that throws is reported without closing the socket, and the bytes it left
// unread are offered again.
TEST(WSocket, ThrowingDataHandlerIsReportedAndTheSocketStaysOpen) {
    Listener l;
    int client = ConnectLoopback(std::stoi(l.port()));
    ASSERT_TRUE(RunUntil([&] { return l.accepted >= 0; }));
    TWSocket s;
    int calls = 0;
    std::string got, reported;
    bool closeFlag = true;
    s.OnDataAvailable = [&](TCustomWSocket& self, uint16_t) {
        if (++calls == 1) throw std::runtime_error("handler failed");
        char buf[16];
        int n = self.Receive(buf, sizeof buf);
        if (n > 0) got.append(buf, size_t(n));
    };
    s.OnBgException = [&](TCustomWSocket&, const std::exception& e, bool& canClose) {
        reported = e.what();
        closeFlag = canClose;
    };
    s.SetHSocket(l.accepted);
    ASSERT_EQ(send(client, "abc", 3, 0), 3);
    ASSERT_TRUE(RunUntil([&] { return got == "abc"; }));
    EXPECT_EQ(reported, "handler failed");
    EXPECT_FALSE(closeFlag);
    EXPECT_EQ(s.State(), wsConnected);
    close(client);
}
