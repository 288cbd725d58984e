#pragma once
// Helpers of the console tests: loopback sockets and Qt's loop run until a condition
// holds.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace nubo::testutil {

inline int FreePort() {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    close(s);
    return ntohs(a.sin_port);
}

// A blocking client socket on 127.0.0.1 with a receive time-out; -1 when refused.
inline int Connect(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(s);
        return -1;
    }
    return s;
}

// Runs Qt's loop (and through it the server's) until done() or the time is up.
template <class F> bool Pump(F done, int ms = 10000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        usleep(2000);
    }
    return true;
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

} // namespace nubo::testutil
