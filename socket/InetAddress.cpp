#include "socket/InetAddress.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <netinet/in.h>
#include <unistd.h>

namespace nubo {

namespace {

// Exactly four decimal parts of at most 255, single dots, nothing empty: inet_pton's own
// IPv4 form, which refuses the shorter and octal forms that inet_aton would take.
bool ParseDotted(const std::string& text, in_addr& out) {
    unsigned parts[4];
    int n = 0;
    size_t i = 0;
    while (n < 4) {
        if (i >= text.size() || !std::isdigit((unsigned char)text[i])) return false;
        unsigned v = 0;
        int digits = 0;
        while (i < text.size() && std::isdigit((unsigned char)text[i])) {
            v = v * 10 + unsigned(text[i] - '0');
            if (++digits > 3 || v > 255) return false;
            ++i;
        }
        parts[n++] = v;
        if (n < 4) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
    }
    if (i != text.size()) return false;
    out.s_addr = htonl(parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3]);
    return true;
}

} // namespace

TInetAddress::TInetAddress(const sockaddr* sa, socklen_t len) {
    if (!sa || len <= 0 || size_t(len) > sizeof storage_) return;
    std::memcpy(&storage_, sa, size_t(len));
    len_ = len;
}

TInetAddress TInetAddress::Any(int family) {
    TInetAddress a;
    if (family == AF_INET6) {
        sockaddr_in6 s{};
        s.sin6_family = AF_INET6;
        s.sin6_addr = in6addr_any;
        return TInetAddress(reinterpret_cast<sockaddr*>(&s), sizeof s);
    }
    sockaddr_in s{};
    s.sin_family = AF_INET;
    s.sin_addr.s_addr = htonl(INADDR_ANY);
    return TInetAddress(reinterpret_cast<sockaddr*>(&s), sizeof s);
}

bool TInetAddress::Parse(const std::string& text, TInetAddress& out) {
    sockaddr_in v4{};
    if (ParseDotted(text, v4.sin_addr)) {
        v4.sin_family = AF_INET;
        out = TInetAddress(reinterpret_cast<sockaddr*>(&v4), sizeof v4);
        return true;
    }
    std::string t = text;
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') t = t.substr(1, t.size() - 2);
    // Zone indexes ("fe80::1%eth0") name an interface of this machine: not an address a
    // client or a setting can give.
    if (t.empty() || t.find(':') == std::string::npos || t.find('%') != std::string::npos) return false;
    sockaddr_in6 v6{};
    if (inet_pton(AF_INET6, t.c_str(), &v6.sin6_addr) != 1) return false;
    v6.sin6_family = AF_INET6;
    out = TInetAddress(reinterpret_cast<sockaddr*>(&v6), sizeof v6);
    return true;
}

uint16_t TInetAddress::Port() const {
    if (Family() == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in*>(&storage_)->sin_port);
    if (Family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_port);
    return 0;
}

void TInetAddress::SetPort(uint16_t port) {
    if (Family() == AF_INET) reinterpret_cast<sockaddr_in*>(&storage_)->sin_port = htons(port);
    if (Family() == AF_INET6) reinterpret_cast<sockaddr_in6*>(&storage_)->sin6_port = htons(port);
}

bool TInetAddress::IsAny() const {
    if (Family() == AF_INET) return reinterpret_cast<const sockaddr_in*>(&storage_)->sin_addr.s_addr == INADDR_ANY;
    if (Family() == AF_INET6)
        return IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(&storage_)->sin6_addr);
    return false;
}

bool TInetAddress::IsLocalNetwork() const {
    const TInetAddress a = Unmapped();
    if (a.Family() == AF_INET) {
        const uint32_t v = ntohl(reinterpret_cast<const sockaddr_in*>(&a.storage_)->sin_addr.s_addr);
        const auto in = [v](uint32_t net, int bits) { return (v >> (32 - bits)) == (net >> (32 - bits)); };
        return in(0x7F000000, 8) || in(0x0A000000, 8) || in(0xAC100000, 12) || in(0xC0A80000, 16) ||
               in(0xA9FE0000, 16) || in(0x64400000, 10);
    }
    if (a.Family() == AF_INET6) {
        const auto& b = reinterpret_cast<const sockaddr_in6*>(&a.storage_)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&b) || IN6_IS_ADDR_LINKLOCAL(&b) || (b.s6_addr[0] & 0xFE) == 0xFC;
    }
    return false;
}

TInetAddress TInetAddress::Unmapped() const {
    if (Family() != AF_INET6) return *this;
    const auto* s6 = reinterpret_cast<const sockaddr_in6*>(&storage_);
    if (!IN6_IS_ADDR_V4MAPPED(&s6->sin6_addr)) return *this;
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = s6->sin6_port;
    std::memcpy(&v4.sin_addr, s6->sin6_addr.s6_addr + 12, 4);
    return TInetAddress(reinterpret_cast<sockaddr*>(&v4), sizeof v4);
}

std::string TInetAddress::Text() const {
    const TInetAddress a = Unmapped();
    char buf[INET6_ADDRSTRLEN] = "";
    if (a.Family() == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&a.storage_)->sin_addr, buf, sizeof buf);
    else if (a.Family() == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&a.storage_)->sin6_addr, buf, sizeof buf);
    return buf;
}

bool SystemHasIpv6() {
    static const bool has = [] {
        const int fd = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    }();
    return has;
}

} // namespace nubo
