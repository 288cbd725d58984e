#pragma once
// Helpers of the dialog and online tests: loopback sockets, Qt's loop run until a
// condition holds, and files in a temporary folder.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace nubo::testutil {

inline int FreeLoopbackPort() {
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

// A client socket on 127.0.0.1 that does not block; -1 when refused.
inline int ConnectLoopback(int port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
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
template <class F> bool PumpUntil(F done, int ms = 10000) {
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
    PumpUntil([&] {
        char buf[4096];
        ssize_t r = recv(s, buf, sizeof buf, MSG_DONTWAIT);
        if (r > 0) got.append(buf, size_t(r));
        return r == 0 || got.find(want) != std::string::npos;
    });
    return got;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A temporary folder removed with the object.
struct TTempDir {
    TTempDir() {
        char tmpl[] = "/tmp/nubo-dialogs-XXXXXX";
        Path = mkdtemp(tmpl);
    }
    ~TTempDir() { std::filesystem::remove_all(Path); }
    std::string Path;
};

} // namespace nubo::testutil
