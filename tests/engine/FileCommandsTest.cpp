// The file commands with a host: what the validation events see, what they may change,
// and what a refusal or an exception in them answers.
#include <gtest/gtest.h>

#include <memory>
#include <sys/stat.h>

#include "engine/FtpServer.h"
#include "tests/engine/LoopClient.h"
#include "tests/support/TempDir.h"

using namespace nubo;
using nubo::test::TLoopClient;
using nubo::test::TTempDir;

namespace {

using TEventMember = TFtpSrvValidateXferEvent TFtpServer::*;

class FileCommands : public ::testing::Test {
protected:
    void SetUp() override {
        home = t.Engine();
        server.Addr = "127.0.0.1";
        server.Port = "0";
        server.OnAuthenticate = [this](TFtpServer&, TFtpCtrlSocket& c, const TFtpString&, const TFtpString&, bool&) {
            c.HomePath = home;
        };
        server.Start();
        client = std::make_unique<TLoopClient>(loop, std::stoi(server.ListenSocket().BoundPort()));
        client->Reply();
        client->Cmd("USER u");
        client->Cmd("PASS p");
    }
    void TearDown() override {
        client.reset();
        server.DropAllClients();
        server.Stop();
    }
    std::string Cmd(const std::string& line) { return client->Cmd(line); }
    // The host's digest event: notes the path, gives a fixed MD5 sum, allows as told.
    void HostDigest(std::string& seen, const bool& allow) {
        server.OnCalculateMd5 = [&seen, &allow](TFtpServer&, TFtpCtrlSocket&, TFtpString& path, TFtpString& sum,
                                                bool& allowed) {
            seen = path;
            sum = "0123456789abcdef0123456789abcdef";
            allowed = allow;
        };
    }

    TTempDir t;
    std::string home;
    TEventLoop loop;
    TFtpServer server{loop};
    std::unique_ptr<TLoopClient> client;
};

} // namespace

// Refused commands change nothing; those with a folder part see the temporary directory
// while the event runs, and the working directory is back before the reply.
TEST_F(FileCommands, RefusalsAndTheTemporaryDirectory) {
    mkdir(t.File("pub").c_str(), 0777);
    t.Write("pub/a.txt", "abc");
    ASSERT_EQ(Cmd("CWD pub"),
              "250 CWD command successful. \"" + ToClientSeparators(home) + "pub/\" is current directory.");
    const std::string pub = home + "pub\\";
    struct Case {
        std::string line;
        TEventMember event;
        std::string refusal;
        std::string dirDuringEvent;
        std::string path;
    } cases[] = {
        {"DELE /pub/a.txt", &TFtpServer::OnValidateDele, "550 Cannot delete.", home, pub + "a.txt"},
        {"SIZE /pub/a.txt", &TFtpServer::OnValidateSize, "501 Permission Denied", pub, pub + "a.txt"},
        {"RNFR /pub/a.txt", &TFtpServer::OnValidateRnFr, "500 Cannot RNFR.", home, pub + "a.txt"},
        {"RNTO /pub/b.txt", &TFtpServer::OnValidateRnTo, "500 Cannot RNTO.", home, pub + "b.txt"},
        {"MKD /pub/new", &TFtpServer::OnValidateRmd, "550 '" + pub + "new': can't create directory.", home,
         pub + "new"},
        {"XMKD new", &TFtpServer::OnValidateRmd, "550 '" + pub + "new': can't create directory.", pub, pub + "new"},
        {"RMD /pub/", &TFtpServer::OnValidateRmd, "500 Cannot remove directory.", home, pub},
        {"MDTM 20240229120000 /pub/a.txt", &TFtpServer::OnValidateMfmt, "501 Permission Denied", pub, pub + "a.txt"},
        {"MFMT 20240229120000 a.txt", &TFtpServer::OnValidateMfmt, "501 Permission Denied", pub, pub + "a.txt"},
    };
    struct stat before {};
    stat(t.File("pub/a.txt").c_str(), &before);
    for (const Case& c : cases) {
        std::string seenDir, seenPath;
        server.*c.event = [&](TFtpServer&, TFtpCtrlSocket& cl, TFtpString& path, bool& allowed) {
            seenDir = cl.CurrentDir;
            seenPath = path;
            allowed = false;
        };
        EXPECT_EQ(Cmd(c.line), c.refusal) << c.line;
        EXPECT_EQ(seenDir, c.dirDuringEvent) << c.line;
        EXPECT_EQ(seenPath, c.path) << c.line;
        EXPECT_EQ(Cmd("PWD"), "257 \"" + ToClientSeparators(pub) + "\" is current directory.") << c.line;
        server.*c.event = nullptr;
    }
    struct stat after {};
    ASSERT_EQ(stat(t.File("pub/a.txt").c_str(), &after), 0);
    EXPECT_EQ(after.st_mtime, before.st_mtime);
    EXPECT_NE(access(t.File("pub/new").c_str(), F_OK), 0);
    EXPECT_EQ(Cmd("RNTO b.txt"), "550 '': no such file or directory."); // the refused RNFR remembered nothing
}

// The operation uses the path as the event left it; the reply shows the resolved one.
TEST_F(FileCommands, ThePathTheHostLeftIsUsed) {
    t.Write("asked.txt", "1");
    t.Write("other.txt", "22");
    auto redirect = [&](const std::string& to) {
        return [to](TFtpServer&, TFtpCtrlSocket&, TFtpString& path, bool&) { path = to; };
    };
    server.OnValidateSize = redirect(home + "other.txt");
    EXPECT_EQ(Cmd("SIZE asked.txt"), "213 2");
    server.OnValidateRmd = redirect(home + "made");
    EXPECT_EQ(Cmd("MKD asked"), "257 \"" + home + "asked\": directory created.");
    EXPECT_EQ(access(t.File("made").c_str(), F_OK), 0);
    server.OnValidateDele = redirect(home + "other.txt");
    EXPECT_EQ(Cmd("DELE asked.txt"), "250 File '" + home + "asked.txt' deleted.");
    EXPECT_EQ(t.Read("asked.txt"), "1");
    EXPECT_NE(access(t.File("other.txt").c_str(), F_OK), 0);
    server.OnValidateRnFr = redirect(home + "made");
    EXPECT_EQ(Cmd("RNFR asked.txt"), "350 File exists, ready for destination name.");
    EXPECT_EQ(Cmd("RNTO renamed"), "250 File '" + home + "made' renamed to '" + home + "renamed'.");
}

TEST_F(FileCommands, Md5FromTheHost) {
    std::string seen;
    bool allow = true;
    HostDigest(seen, allow);
    EXPECT_EQ(Cmd("MD5 missing"), "251 \"missing\" 0123456789ABCDEF0123456789ABCDEF");
    EXPECT_EQ(seen, home + "missing");
    allow = false;
    EXPECT_EQ(Cmd("MD5 missing"), "500 Cannot RETR.");
    server.OnCalculateMd5 = [](TFtpServer&, TFtpCtrlSocket&, TFtpString&, TFtpString&, bool&) {
        throw std::runtime_error("boom");
    };
    EXPECT_EQ(Cmd("MD5 x"), "550 MD5 SUM failed : 'boom'.");
}

// The digest event decides HASH and the X forms as it decides MD5; the MD5 sum a host may
// give answers MD5 alone, never a digest of another algorithm.
TEST_F(FileCommands, DigestEventDecidesHashAndXForms) {
    t.Write("abc", "abc");
    std::string seen;
    bool allow = true;
    HostDigest(seen, allow);
    EXPECT_EQ(Cmd("HASH abc"), "213 SHA-256 0-3 ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad abc");
    EXPECT_EQ(seen, home + "abc");
    EXPECT_EQ(Cmd("XMD5 abc"), "250 900150983CD24FB0D6963F7D28E17F72");
    allow = false;
    for (const char* line : {"HASH abc", "XSHA256 abc", "XSHA1 abc", "XMD5 abc", "XCRC abc"})
        EXPECT_EQ(Cmd(line), "550 'abc': permission denied.") << line;
}

// Where an exception goes: the command's own guard, or the dispatcher's "501 ".
TEST_F(FileCommands, ExceptionsTable) {
    t.Write("a.txt", "a");
    mkdir(t.File("sub").c_str(), 0777);
    auto boom = [](TFtpServer&, TFtpCtrlSocket&, TFtpString&, bool&) { throw std::runtime_error("boom"); };
    struct Case {
        std::string line;
        TEventMember event;
        std::string reply;
    } cases[] = {
        {"DELE sub/a.txt", &TFtpServer::OnValidateDele, "501 boom"},
        {"SIZE a.txt", &TFtpServer::OnValidateSize, "501 boom"},
        {"RNFR sub/a.txt", &TFtpServer::OnValidateRnFr, "501 boom"},
        {"RNTO sub/a.txt", &TFtpServer::OnValidateRnTo, "501 boom"},
        {"RMD sub/x", &TFtpServer::OnValidateRmd, "501 boom"},
        {"MKD sub/x", &TFtpServer::OnValidateRmd, "550 'boom': can't create directory."},
        {"MDTM 20240229120000 a.txt", &TFtpServer::OnValidateMfmt,
         "550 MDTM/MFMT cannot change date/time on this server"},
        {"DELE D:a.txt", nullptr, "501 No current dir for 'D:'"},
        {"SIZE D:a.txt", nullptr, "501 No current dir for 'D:'"},
        {"MKD D:x", nullptr, "550 'No current dir for 'D:'': can't create directory."},
        {"MDTM D:a.txt", nullptr, "550 MDTM/MFMT cannot change date/time on this server"},
        {"MD5 D:a.txt", nullptr, "550 MD5 SUM failed : 'No current dir for 'D:''."},
    };
    for (const Case& c : cases) {
        if (c.event) server.*c.event = boom;
        EXPECT_EQ(Cmd(c.line), c.reply) << c.line;
        EXPECT_EQ(Cmd("PWD"), "257 \"" + ToClientSeparators(home) + "\" is current directory.") << c.line;
        if (c.event) server.*c.event = nullptr;
    }
}

// While a long digest runs, the connection holds the lines after it; they are answered in
// order once the digest is out, and a held line may start another long digest.
TEST_F(FileCommands, HeldLinesAfterALongDigest) {
    t.Write("big.bin", "");
    ASSERT_EQ(truncate(t.File("big.bin").c_str(), 400LL << 20), 0);
    t.Write("small", "abc");
    const std::string first = Cmd("MD5 big.bin\r\nMD5 small\r\nMD5 big.bin\r\nNOOP");
    EXPECT_EQ(first.substr(0, 14), "251 \"big.bin\" ");
    EXPECT_EQ(first.size(), 14u + 32u);
    EXPECT_EQ(client->Reply(), "251 \"small\" 900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(client->Reply(), first);
    EXPECT_EQ(client->Reply(), "200 Ok. Parameter was ''.");
    EXPECT_EQ(Cmd("NOOP after"), "200 Ok. Parameter was 'after'.");
}
