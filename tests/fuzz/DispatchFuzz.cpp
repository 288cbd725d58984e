// Fuzz target: a control connection's bytes, from line assembly to the replies.
// The input is what a logged-in client sends on its control connection, any bytes.
//
// How it reaches the engine without a change to it: once per process a real
// TFtpServer accepts one loopback connection; the command handler it installs on
// that connection (TFtpCtrlSocket::OnCommand, which calls TFtpServer::ClientCommand:
// SplitCommandLine, OnClientCommand, the command table, SendReply) is kept. Then, per
// input, a fresh TFtpCtrlSocket gets one end of a socketpair and that same handler;
// the input is written into the other end in pieces, and the event loop runs as the
// server runs it: readable -> ReceiveLines -> DispatchLines -> OnCommand -> replies
// on the send chain. The connection is not in the server's list, so the server's
// posted messages for it (QUIT's close, a transfer's start) do nothing.
//
// The connection works in a scratch home. Every path a command resolves is confined
// to it (the file-path hook maps anything outside to a name that does not exist),
// reads are allowed inside it, and every command that would change a file or folder
// (DELE, RMD, MKD, RNFR, RNTO, MFMT, STOR, APPE, STOU) is refused by its validation
// event. The peer address is no IPv4 address, so PORT never arms an active connection;
// PASV listens on an ephemeral port until the connection goes, and no one connects.
//
// Invariants:
// - the lines handed to the command handler are exactly those of a reference model of
//   the line rules: cut at LF, one CR before it removed (not from a lone CR), a zero
//   byte after each; a line that reaches 2047 bytes without LF becomes "OVER", after
//   which nothing more is read; and this holds however the bytes arrive in pieces (a
//   client may send OVER itself: then the lines already read still run, no more);
// - replies are well formed: lines of "ddd " or "ddd-" (first digit 1..5), CR LF ends,
//   no other control byte, a multi-line reply closed by its code; every reply the
//   server makes (OnAnswerToClient) reaches the client;
// - every command gets exactly one reply of its own, the last one made while it runs
//   (or, for a command that holds the lines after it, one made later); a transfer
//   answered 150 gets at most one more, its end. No data connection ever opens here, so
//   a transfer's end is never a success (2xx), and nothing else is ever answered;
// - the working folder stays fully expanded, ends with "\" and stays in the home; only
//   CWD, CDUP and PASS move it;
// - refused commands change nothing: the home's files are the same after every input.
#include <arpa/inet.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "engine/FtpServer.h"
#include "platform/PathMap.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace nubo;
using nubo::fuzz::Shown;
namespace fs = std::filesystem;

namespace {

constexpr size_t kLineLimit = 2047; // RcvSize - 1: the longest line the buffer holds

class TFuzzClient : public TFtpCtrlSocket {
public:
    using TFtpCtrlSocket::TFtpCtrlSocket;
    // Not an IPv4 address: no PORT argument can name it, so no active data connection.
    std::string PeerAddr() override { return "fuzz-peer"; }
};

// The reference model of line assembly.
std::vector<std::string> ModelLines(const std::string& bytes) {
    std::vector<std::string> lines;
    std::string pending;
    for (char c : bytes) {
        if (c == '\n') {
            if (pending.size() > 1 && pending.back() == '\r') pending.pop_back();
            lines.push_back(pending);
            pending.clear();
            continue;
        }
        pending += c;
        if (pending.size() == kLineLimit) {
            lines.push_back("OVER");
            break; // the connection reads no more
        }
    }
    return lines;
}

std::string Snapshot(const fs::path& root) {
    std::string s;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        s += e.path().string();
        s += e.is_directory() ? "/" : ":" + std::to_string(e.file_size());
        s += '\n';
    }
    return s;
}

struct THarness {
    TEventLoop& loop = TEventLoop::Current();
    TFtpServer server{loop};
    std::function<void(TFtpCtrlSocket&, const char*, int)> dispatch;
    fs::path root;
    std::string home; // engine form, trailing '\'
    std::string snapshot;
    bool resolving = false;
    const bool trace = std::getenv("NUBO_FUZZ_TRACE") != nullptr; // lines and replies to stderr
    // Every reply the server makes, with the number of the command that was running
    // (-1: none, a reply made from a posted call).
    struct TAnswer {
        int Command;    // the command that was running, -1 for a posted call
        size_t Started; // commands started when the reply was made
        std::string Text;
    };
    std::vector<TAnswer> answers;
    int running = -1;
    size_t started = 0;

    bool InHome(const std::string& path) const { return ExpandFileName(path).compare(0, home.size(), home) == 0; }

    THarness() {
        root = fuzz::ScratchFolder("dispatch");
        fs::create_directories(root / "sub" / "deep");
        fs::create_directories(root / "empty dir");
        for (const char* f : {"a.txt", "sub/b.txt", "name with blanks.txt", "\xED\x95\x9C\xEA\xB8\x80.txt", "big.bin"})
            std::ofstream(root / f) << f;
        // A file whose digest takes longer than one slice (kDigestSliceMs), so that MD5
        // holds the command lines after it; sparse, so it costs no memory.
        fs::resize_file(root / "big.bin", 64 << 20);
        home = EnginePath(root.string()) + "\\";
        snapshot = Snapshot(root);

        server.OnAuthenticate = [](TFtpServer&, TFtpCtrlSocket&, const TFtpString&, const TFtpString& password,
                                   bool& ok) { ok = password != "wrong"; };
        server.OnChangeDirectory = [this](TFtpServer&, TFtpCtrlSocket&, const TFtpString& dir, bool& allowed) {
            allowed = InHome(dir);
        };
        server.OnMakeDirectory = [](TFtpServer&, TFtpCtrlSocket&, const TFtpString&, bool& allowed) {
            allowed = false;
        };
        // Every resolved path stays in the home: anything else becomes a missing name in it.
        server.OnBuildFilePath = [this](TFtpServer& s, TFtpCtrlSocket& c, const TFtpString& dir, const TFtpString& name,
                                        TFtpString& out) {
            if (resolving) return;
            resolving = true;
            try {
                out = s.ResolveFilePath(c, dir, name);
            } catch (...) {
                resolving = false;
                throw;
            }
            resolving = false;
            if (!InHome(out)) out = home + "no such name outside";
        };
        const auto refuse = [](TFtpServer&, TFtpCtrlSocket&, TFtpString&, bool& allowed) { allowed = false; };
        const auto inHome = [this](TFtpServer&, TFtpCtrlSocket&, TFtpString& path, bool& allowed) {
            allowed = InHome(path);
        };
        for (auto* ev : {&server.OnValidateDele, &server.OnValidateRmd, &server.OnValidateRnFr, &server.OnValidateRnTo,
                         &server.OnValidateMfmt, &server.OnValidatePut})
            *ev = refuse;
        server.OnValidateGet = inHome;
        server.OnValidateSize = inHome;
        server.OnCalculateMd5 = [this](TFtpServer&, TFtpCtrlSocket&, TFtpString& path, TFtpString&, bool& allowed) {
            allowed = InHome(path);
        };
        server.OnBuildDirectory = [this](TFtpServer& s, TFtpCtrlSocket& c, TFtpString& arg, TListingKind) {
            const std::string upper = UpperCase(arg);
            if (arg.empty() || upper == "-LA" || upper == "-AL") return;
            if (!InHome(s.ResolveFilePath(c, c.CurrentDir, arg))) throw ENoSuchEntry(arg);
        };

        server.OnAnswerToClient = [this](TFtpServer&, TFtpCtrlSocket&, TFtpString& answer) {
            answers.push_back({running, started, answer});
        };

        // One real connection, to obtain the server's command handler.
        server.Addr = "127.0.0.1";
        server.Port = "0";
        server.Start();
        const int port = std::stoi(server.ListenSocket().BoundPort());
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(uint16_t(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        FUZZ_CHECK(::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0, std::string("connect"));
        for (int i = 0; i < 500 && server.ConnectionCount() == 0; ++i) loop.RunOnce(10);
        FUZZ_CHECK(server.ConnectionCount() == 1, std::string("the server did not accept"));
        dispatch = server.Connection(0)->OnCommand;
        FUZZ_CHECK(bool(dispatch), std::string("no command handler on the accepted connection"));
        server.DropAllClients();
        server.Stop();
        ::close(fd);
        while (loop.RunOnce(0) > 0) {
        }
    }
};

// Splits the reply bytes into replies; reports what is wrong with them.
std::string CheckReplies(const std::string& out, size_t& replies) {
    replies = 0;
    std::string open; // code of an open multi-line reply
    size_t pos = 0;
    while (pos < out.size()) {
        const size_t end = out.find("\r\n", pos);
        if (end == std::string::npos) return "reply bytes do not end with CR LF";
        const std::string line = out.substr(pos, end - pos);
        pos = end + 2;
        for (unsigned char c : line)
            if (c < 0x20 || c == 0x7F) return "control byte in reply line \"" + Shown(line) + "\"";
        const bool coded = line.size() >= 4 && line[0] >= '1' && line[0] <= '5' && line[1] >= '0' && line[1] <= '9' &&
                           line[2] >= '0' && line[2] <= '9' && (line[3] == ' ' || line[3] == '-');
        if (!open.empty()) {
            if (coded && line.compare(0, 3, open) == 0 && line[3] == ' ') {
                open.clear();
                ++replies;
            }
            continue;
        }
        if (!coded) return "reply line without a code: \"" + Shown(line) + "\"";
        if (line[3] == '-')
            open = line.substr(0, 3);
        else
            ++replies;
    }
    if (!open.empty()) return "multi-line reply " + open + " not closed";
    return "";
}

// Which command each reply answers (see the invariants above); what is wrong, or "".
template <class TAnswer> std::string CheckAttribution(const std::vector<TAnswer>& answers, size_t commands) {
    int pending = 0; // transfers answered 150 and not ended yet
    size_t held = 0; // commands that made no reply while they ran: they answer later
    const auto end = [&](const std::string& text) -> std::string {
        if (pending == 0) return "a reply nothing asked for: \"" + Shown(text) + "\"";
        if (text[0] == '2') return "a transfer without data connection ended in success: \"" + Shown(text) + "\"";
        --pending;
        return "";
    };
    size_t i = 0;
    for (size_t c = 0; c < commands; ++c) {
        // Replies made from posted calls before this command ran.
        for (; i < answers.size() && answers[i].Command < 0 && answers[i].Started <= c; ++i) {
            const std::string& text = answers[i].Text;
            if (held > 0) {
                --held;
                if (text[0] == '1') ++pending;
            } else if (std::string e = end(text); !e.empty()) {
                return e;
            }
        }
        size_t own = 0;
        for (size_t k = i; k < answers.size() && answers[k].Command == int(c); ++k) ++own;
        if (own == 0) {
            ++held;
            continue;
        }
        for (size_t k = 0; k + 1 < own; ++k)
            if (std::string e = end(answers[i + k].Text); !e.empty())
                return e + " (while command " + std::to_string(c) + " ran)";
        if (answers[i + own - 1].Text[0] == '1') ++pending;
        i += own;
    }
    for (; i < answers.size(); ++i) {
        if (held > 0) {
            --held;
        } else if (std::string e = end(answers[i].Text); !e.empty()) {
            return e;
        }
    }
    if (held > 0) return std::to_string(held) + " command(s) never answered";
    return "";
}

uint64_t Hash(const std::string& s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return h;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static THarness* h = new THarness;
    const std::string input(reinterpret_cast<const char*>(data), size);

    h->answers.clear();
    h->started = 0;
    int sv[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, sv) == 0,
               std::string("socketpair"));
    std::vector<std::string> lines;
    std::string problem;
    {
        TFuzzClient client(h->loop);
        client.Name = "FuzzClient";
        client.AssignHandle(TUniqueFd(sv[0]));
        client.FtpState = ftpcReady;
        client.UserName = "fuzz";
        client.HomePath = h->home;
        client.CurrentDir = h->home;
        client.OnCommand = [&](TFtpCtrlSocket& c, const char* buf, int len) {
            lines.emplace_back(buf, size_t(len < 0 ? 0 : len));
            if (h->trace) std::fprintf(stderr, "> %s\n", Shown(lines.back(), 200).c_str());
            if (len < 0 || size_t(len) >= kLineLimit || buf[len] != 0)
                problem = problem.empty() ? "line handed over without its zero byte or too long" : problem;
            std::string keyword, params;
            SplitCommandLine(buf, len, keyword, params);
            const std::string before = c.CurrentDir;
            h->running = int(lines.size()) - 1;
            h->started = lines.size();
            h->dispatch(c, buf, len);
            h->running = -1;
            const std::string& now = c.CurrentDir;
            if (!problem.empty()) return;
            if (now.size() < 3 || now[1] != ':' || now[2] != '\\' || now.back() != '\\' || ExpandFileName(now) != now)
                problem = "working folder not in full form: \"" + Shown(now) + "\"";
            else if (!h->InHome(now))
                problem = "working folder left the home: \"" + Shown(now) + "\"";
            else if (now != before && keyword != "CWD" && keyword != "CDUP" && keyword != "PASS")
                problem = keyword + " moved the working folder to \"" + Shown(now) + "\"";
            if (!problem.empty()) problem += " after line \"" + Shown(std::string(buf, size_t(len))) + "\"";
        };

        // The input arrives in pieces of a size drawn from its own hash, so that the same
        // input always arrives the same way and different inputs cut lines differently.
        uint64_t rng = Hash(input);
        std::string replies;
        size_t written = 0;
        bool cut = false;
        for (int round = 0; round < 1000000; ++round) {
            bool busy = false;
            if (written < input.size() && !cut) {
                rng = rng * 6364136223846793005ull + 1442695040888963407ull;
                const size_t piece = std::min<size_t>(input.size() - written, 1 + (rng >> 33) % 3000);
                const ssize_t n = ::send(sv[1], input.data() + written, piece, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n > 0) {
                    written += size_t(n);
                    busy = true;
                } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                    cut = true; // the connection stopped reading (OVER)
                }
            }
            if (h->loop.RunOnce(0) > 0) busy = true;
            char buf[65536];
            for (ssize_t n; (n = ::recv(sv[1], buf, sizeof buf, MSG_DONTWAIT)) > 0;) {
                replies.append(buf, size_t(n));
                busy = true;
            }
            if (!busy && (written == input.size() || cut)) break;
        }

        if (h->trace)
            std::fprintf(stderr, "%s-- %zu of %zu bytes written%s\n", replies.c_str(), written, input.size(),
                         cut ? ", then the connection stopped reading" : "");
        // The engine's lines must be the model's, up to the first OVER (the overflow's or one
        // the client sent itself). After a client's OVER the connection reads no more, but
        // the lines it had read already still run: the engine's are a prefix of the model's.
        const std::vector<std::string> want = ModelLines(input);
        size_t over = want.size();
        for (size_t i = 0; i < want.size() && over == want.size(); ++i) {
            std::string keyword, params;
            SplitCommandLine(want[i].data(), int(want[i].size()), keyword, params);
            if (keyword == "OVER") over = i;
        }
        std::string diff;
        const size_t needed = over < want.size() ? over + 1 : want.size();
        if (lines.size() < needed || lines.size() > want.size()) diff = "wrong number of lines";
        for (size_t i = 0; i < std::min(want.size(), lines.size()) && diff.empty(); ++i) {
            if (lines[i] != want[i])
                diff =
                    "line " + std::to_string(i) + ": got \"" + Shown(lines[i]) + "\", model \"" + Shown(want[i]) + "\"";
        }
        FUZZ_CHECK(diff.empty(), "line assembly differs from the model (" + std::to_string(lines.size()) + " lines, " +
                                     std::to_string(want.size()) + " in the model), " + diff);
        FUZZ_CHECK(problem.empty(), problem);
        size_t count = 0;
        const std::string bad = CheckReplies(replies, count);
        FUZZ_CHECK(bad.empty(), bad + "\nreplies: \"" + Shown(replies, 3000) + "\"");
        FUZZ_CHECK(count == h->answers.size(),
                   std::to_string(h->answers.size()) + " replies made, the client got " + std::to_string(count));
        const std::string attribution = CheckAttribution(h->answers, lines.size());
        FUZZ_CHECK(attribution.empty(), attribution + "\nreplies: \"" + Shown(replies, 3000) + "\"");
    }
    ::close(sv[1]);
    while (h->loop.RunOnce(0) > 0) {
    }
    FUZZ_CHECK(Snapshot(h->root) == h->snapshot, "the home changed:\n" + Snapshot(h->root));
    return 0;
}
