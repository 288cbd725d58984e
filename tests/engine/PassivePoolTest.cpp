// The passive port pool shared by the clients of one server, over real sockets.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/FtpServer.h"
#include "tests/engine/LoopClient.h"
#include "tests/support/Loopback.h"
#include "tests/support/RunUntil.h"

using namespace nubo;
using nubo::test::ConnectLoopback;
using nubo::test::FreePort;
using nubo::test::RunUntil;
using nubo::test::TLoopClient;

namespace {

std::string PasvReply(int port) {
    return "227 Entering Passive Mode (127,0,0,1," + std::to_string(port / 256) + "," + std::to_string(port % 256) +
           ").";
}

} // namespace

TEST(PassivePool, OnePortSharedByTwoClients) {
    TEventLoop& loop = TEventLoop::Current();
    TFtpServer server(loop);
    server.Addr = "127.0.0.1";
    server.Port = "0";
    const int pasvPort = FreePort();
    server.SetPasvPortRangeStart(pasvPort);
    server.SetPasvPortRangeSize(1);
    server.Start();
    const int port = std::stoi(server.ListenSocket().BoundPort());

    TLoopClient a(loop, port), b(loop, port);
    a.Reply();
    b.Reply();
    for (auto* c : {&a, &b}) {
        c->Cmd("USER u");
        c->Cmd("PASS p");
    }
    EXPECT_EQ(b.Cmd("PASV"), PasvReply(pasvPort));
    EXPECT_EQ(a.Cmd("PASV"), "500 PASV exception: 'No available PASV Ports'.");
    EXPECT_EQ(b.Cmd("PASV"), PasvReply(pasvPort)); // the holder gets the same port again
    EXPECT_THROW(server.SetPasvPortRangeStart(pasvPort + 1), FtpServerException);
    try {
        server.SetPasvPortRangeSize(0);
        FAIL();
    } catch (const FtpServerException& e) {
        EXPECT_STREQ(e.what(), "Unable to change PasvPortRangeSize when port is in use.");
    }

    // B's listing uses up its PASV; then the port is free for A at once.
    int data = ConnectLoopback(pasvPort);
    EXPECT_GE(data, 0);
    EXPECT_EQ(b.Cmd("NLST"), "150 Opening data connection for directory list.");
    char buf[4096];
    RunUntil([&] { return recv(data, buf, sizeof buf, MSG_DONTWAIT) == 0; }, 5000);
    close(data);
    EXPECT_EQ(b.Reply(), "226 File sent ok");
    EXPECT_EQ(a.Cmd("PASV"), PasvReply(pasvPort));
    server.DropAllClients();
    server.Stop();
}
