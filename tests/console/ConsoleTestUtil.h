#pragma once
// Helpers of the console tests: loopback sockets and Qt's loop run until a condition
// holds.
#include <QCoreApplication>
#include <QString>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/Loopback.h"
#include "tests/support/RunUntil.h"

namespace nubo::testutil {

using test::FreePort;

// A blocking client socket on 127.0.0.1 with a receive time-out; -1 when refused.
inline int Connect(int port) {
    const int s = test::ConnectLoopback(port);
    timeval tv{5, 0};
    if (s >= 0) setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return s;
}

// Runs Qt's loop (and through it the server's) until done() or the time is up.
inline bool Pump(const std::function<bool()>& done, int ms = 10000) {
    return test::WaitUntil(
        done,
        [] {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            usleep(2000);
        },
        ms);
}

// What the server sends on s while Qt's loop runs, until it contains want or the
// connection closes.
inline std::string ReceiveUntil(int s, const std::string& want) {
    std::string got;
    Pump([&] {
        char buf[4096];
        ssize_t r = recv(s, buf, sizeof buf, MSG_DONTWAIT);
        if (r > 0) got.append(buf, size_t(r));
        return r == 0 || got.find(want) != std::string::npos;
    });
    return got;
}

#ifdef NUBOFTPD_PATH // the tests that know where the binary is
// Runs the real nuboftpd with args (standard input empty, output dropped) and returns
// its exit code; -1 when it did not end by itself.
inline int RunNuboftpd(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        const int null = open("/dev/null", O_RDWR);
        for (int fd : {0, 1, 2}) dup2(null, fd);
        std::vector<char*> argv{const_cast<char*>(NUBOFTPD_PATH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(NUBOFTPD_PATH, argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
#endif

} // namespace nubo::testutil
