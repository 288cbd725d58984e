#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nubo::test {

namespace {

sockaddr_in LoopbackAddress(int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(uint16_t(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

} // namespace

int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = LoopbackAddress(0);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

int ConnectLoopback(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in sa = LoopbackAddress(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

} // namespace nubo::test
