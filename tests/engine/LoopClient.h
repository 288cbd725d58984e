#pragma once
// A control-connection client for engine tests: a real socket on 127.0.0.1 that pumps
// the server's event loop on this thread while it waits for a reply.

#include <chrono>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "socket/EventLoop.h"
#include "tests/support/Loopback.h"

namespace nubo::test {

class TLoopClient {
public:
    TLoopClient(TEventLoop& loop, int port) : loop_(loop) {
        fd_ = ConnectLoopback(port);
        if (fd_ < 0) throw std::runtime_error("connect failed");
        fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~TLoopClient() { close(fd_); }

    std::string Cmd(const std::string& line) {
        std::string out = line + "\r\n";
        if (send(fd_, out.data(), out.size(), MSG_NOSIGNAL) != ssize_t(out.size()))
            throw std::runtime_error("send failed");
        return Reply();
    }

    // One complete reply (multi-line aware), lines joined by CR LF.
    std::string Reply() {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        std::string reply;
        while (std::chrono::steady_clock::now() < deadline) {
            size_t eol;
            while ((eol = buf_.find("\r\n")) != std::string::npos) {
                std::string line = buf_.substr(0, eol);
                buf_.erase(0, eol + 2);
                reply += reply.empty() ? line : "\r\n" + line;
                const std::string first = reply.substr(0, 4);
                if (first.size() < 4 || first[3] != '-' ||
                    (line.size() >= 4 && line.compare(0, 3, first, 0, 3) == 0 && line[3] == ' '))
                    return reply;
            }
            loop_.RunOnce(10);
            char chunk[4096];
            ssize_t n = recv(fd_, chunk, sizeof chunk, 0);
            if (n > 0) buf_.append(chunk, size_t(n));
            if (n == 0) throw std::runtime_error("closed; pending " + buf_);
        }
        throw std::runtime_error("no reply; pending " + buf_);
    }

private:
    TEventLoop& loop_;
    int fd_ = -1;
    std::string buf_;
};

} // namespace nubo::test
