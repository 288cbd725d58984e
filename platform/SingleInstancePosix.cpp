#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/Text.h"

namespace nubo {

namespace {
// The running copy answers with this, so that anything else listening there is not
// taken for a copy of this program.
constexpr const char* kMagic = "NUBOFTP1";
constexpr const char* kAnswer = "123456\n";
constexpr int kTimeoutMs = 5000;
// The running copy waits this long for a request that has connected: a second start
// writes at once, and anything slower must not hold up the event loop.
constexpr int kServeTimeoutMs = 250;
constexpr size_t kMaxRequest = 4096;

bool MakeAddress(const std::string& path, sockaddr_un& sa) {
    sa = {};
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) return false;
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// Reads until a line end, the peer's close, or the time-out.
std::string ReadLine(int fd, int timeoutMs) {
    std::string got;
    char buf[512];
    while (got.size() < kMaxRequest && got.find('\n') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) break;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, size_t(n));
    }
    size_t eol = got.find('\n');
    return eol == std::string::npos ? got : got.substr(0, eol);
}

void WriteAll(int fd, const std::string& s) {
    size_t off = 0;
    while (off < s.size()) {
        ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return;
        off += size_t(n);
    }
}
} // namespace

TInstanceChannel::TInstanceChannel(std::string folder) {
    if (folder.empty()) folder = ".";
    if (folder.back() != '/') folder += '/';
    path_ = folder + ".nuboftp.sock";
}

TInstanceChannel::~TInstanceChannel() {
    if (fd_ >= 0) {
        close(fd_);
        unlink(path_.c_str());
    }
}

bool TInstanceChannel::Listen() {
    sockaddr_un sa;
    if (!MakeAddress(path_, sa)) {
        error_ = "folder path too long for the instance channel";
        return false;
    }
    // A copy that answers holds the channel; a socket file nobody answers on is stale.
    int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        close(probe);
        error_ = "another copy is running";
        return false;
    }
    if (probe >= 0) close(probe);
    unlink(path_.c_str());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd_, 16) != 0) {
        error_ = std::strerror(errno);
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

void TInstanceChannel::Serve(const std::function<void(const TInstanceRequest&)>& handler) {
    int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) return;
    const std::string line = ReadLine(c, kServeTimeoutMs);
    // "NUBOFTP1 <activate 0|1> <command line>"
    const std::string magic = std::string(kMagic) + " ";
    if (line.compare(0, magic.size(), magic) == 0 && line.size() >= magic.size() + 1) {
        TInstanceRequest req;
        req.Activate = line[magic.size()] == '1';
        req.CommandLine = line.size() > magic.size() + 2 ? line.substr(magic.size() + 2) : "";
        handler(req);
        WriteAll(c, kAnswer);
    }
    close(c);
}

bool TInstanceChannel::Send(const std::string& folder, const TInstanceRequest& request) {
    TInstanceChannel probe(folder);
    sockaddr_un sa;
    if (!MakeAddress(probe.path_, sa)) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool found = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
        std::string cmd = request.CommandLine;
        for (char& ch : cmd)
            if (ch == '\n' || ch == '\r') ch = ' ';
        WriteAll(fd, std::string(kMagic) + " " + (request.Activate ? "1" : "0") + " " + cmd + "\n");
        found = ReadLine(fd, kTimeoutMs) + "\n" == kAnswer;
    }
    close(fd);
    return found;
}

std::string JoinCommandLine(const std::vector<std::string>& params) {
    std::string s;
    for (const auto& p : params) s += (s.empty() ? "" : " ") + p;
    return TrimBlanks(s);
}

} // namespace nubo
