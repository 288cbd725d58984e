// Fuzz target: the PORT argument (TFtpServer::CommandPORT, the server has no EPRT).
// The input is the argument as the client sends it after "PORT ". Each input goes to
// a logged-in connection from 127.0.0.1, one from another address, and one not logged
// in; no socket is opened (PORT only records the address, the transfer would connect).
//
// Invariants:
// - the reply is exactly "200 Port command successful." or "501 Invalid PORT command."
//   (530 before login, with nothing recorded);
// - an accepted PORT names the client's own address and a port from 1024 to 65535 (no
//   bounce, no privileged port), recorded as decimal text;
// - a refused PORT leaves the recorded address and port as they were;
// - the verdict and the port agree with a reference reading of the argument: six
//   numbers separated by commas, blanks or tabs around each, an empty or missing
//   number is 0, anything after the sixth number's comma is ignored.
#include <cstdint>
#include <optional>
#include <string>

#include "engine/FtpServer.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace nubo;
using nubo::fuzz::Shown;

namespace {

class TPeerClient : public TFtpCtrlSocket {
public:
    TPeerClient(TEventLoop& loop, std::string peer) : TFtpCtrlSocket(loop), peer_(std::move(peer)) {}
    std::string PeerAddr() override { return peer_; }

private:
    std::string peer_;
};

struct TRefPort {
    uint64_t n[6] = {};
};

// The reference reading; nullopt when a number is followed by something other than a
// comma, blanks or the end.
std::optional<TRefPort> ReferenceParse(const std::string& s) {
    TRefPort r;
    size_t pos = 0;
    const auto blank = [&] { return pos < s.size() && (s[pos] == ' ' || s[pos] == '\t'); };
    for (auto& v : r.n) {
        while (blank()) ++pos;
        bool big = false;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            if (!big) v = v * 10 + uint64_t(s[pos] - '0');
            if (v > 1000000) big = true; // far beyond any byte: the exact value no longer matters
            ++pos;
        }
        while (blank()) ++pos;
        if (pos == s.size()) continue;
        if (s[pos] != ',') return std::nullopt;
        ++pos;
    }
    return r;
}

struct THarness {
    TEventLoop& loop = TEventLoop::Current();
    TFtpServer server{loop};
};

void CheckOne(THarness& h, const std::string& params, const std::string& peer, bool loggedIn) {
    TPeerClient client(h.loop, peer);
    client.FtpState = loggedIn ? ftpcReady : ftpcWaitingPassword;
    client.ActiveAddr = "before";
    client.ActivePort = "before-port";
    TFtpString keyword = "PORT", p = params, answer;
    h.server.CommandPORT(client, keyword, p, answer);
    const std::string ctx = "params=\"" + Shown(params) + "\" peer=" + peer + " answer=\"" + Shown(answer) +
                            "\" addr=" + Shown(client.ActiveAddr) + " port=" + Shown(client.ActivePort);
    FUZZ_CHECK(p == params, "PORT changed its argument: " + ctx);
    if (!loggedIn) {
        FUZZ_CHECK(answer == "530 Please login with USER and PASS.", ctx);
        FUZZ_CHECK(client.ActiveAddr == "before" && client.ActivePort == "before-port", ctx);
        return;
    }
    const bool accepted = answer == "200 Port command successful.";
    FUZZ_CHECK(accepted || answer == "501 Invalid PORT command.", "unexpected reply: " + ctx);
    const auto ref = ReferenceParse(params);
    bool refAccepts = false;
    uint64_t refPort = 0;
    if (ref) {
        bool bytes = true;
        for (auto v : ref->n) bytes = bytes && v <= 255;
        const std::string addr = std::to_string(ref->n[0]) + "." + std::to_string(ref->n[1]) + "." +
                                 std::to_string(ref->n[2]) + "." + std::to_string(ref->n[3]);
        refPort = ref->n[4] * 256 + ref->n[5];
        refAccepts = bytes && addr == peer && refPort >= 1024;
    }
    FUZZ_CHECK(accepted == refAccepts, "verdict differs from the reference reading: " + ctx);
    if (!accepted) {
        FUZZ_CHECK(client.ActiveAddr == "before" && client.ActivePort == "before-port",
                   "a refused PORT changed the recorded address: " + ctx);
        return;
    }
    // Bounce defence, checked on what was recorded.
    FUZZ_CHECK(client.ActiveAddr == peer, "accepted a foreign address: " + ctx);
    const std::string& port = client.ActivePort;
    bool digits = !port.empty() && port.size() <= 5 && port[0] != '0';
    for (char c : port) digits = digits && c >= '0' && c <= '9';
    FUZZ_CHECK(digits, "port not recorded as decimal: " + ctx);
    const long value = std::stol(port);
    FUZZ_CHECK(value >= 1024 && value <= 65535, "accepted a privileged or impossible port: " + ctx);
    FUZZ_CHECK(uint64_t(value) == refPort, "port differs from the reference reading: " + ctx);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static THarness* h = new THarness; // lives as long as the process
    const std::string params(reinterpret_cast<const char*>(data), size);
    CheckOne(*h, params, "127.0.0.1", true);
    CheckOne(*h, params, "192.168.10.200", true);
    CheckOne(*h, params, "127.0.0.1", false);
    return 0;
}
