#pragma once
// An IPv4 or IPv6 socket address. An IPv4 client of a dual-stack listener arrives as an
// IPv4-mapped IPv6 address; its text is the plain IPv4 form, so that one client has one
// address in the logs, the address lists and the data-connection checks.

#include <cstdint>
#include <string>
#include <sys/socket.h>

namespace nubo {

class TInetAddress {
public:
    TInetAddress() = default;
    // The address a socket call filled in.
    TInetAddress(const sockaddr* sa, socklen_t len);
    // The wildcard address of a family (AF_INET or AF_INET6), port 0.
    static TInetAddress Any(int family);
    // Numeric text only: dotted IPv4 (four parts of at most 255) or IPv6, which may stand
    // in brackets. False for anything else, out unchanged.
    static bool Parse(const std::string& text, TInetAddress& out);

    int Family() const { return storage_.ss_family; }
    bool Empty() const { return len_ == 0; }
    const sockaddr* Raw() const { return reinterpret_cast<const sockaddr*>(&storage_); }
    socklen_t Length() const { return len_; }
    uint16_t Port() const;
    void SetPort(uint16_t port);
    bool IsAny() const;
    // Loopback, a private range (10/8, 172.16/12, 192.168/16, 100.64/10 of carrier NAT,
    // fc00::/7) or link-local: an address that no router on the internet forwards.
    bool IsLocalNetwork() const;
    // The IPv4 address inside an IPv4-mapped IPv6 address; itself otherwise.
    TInetAddress Unmapped() const;
    // "192.0.2.1" or "2001:db8::1" (no brackets, no port).
    std::string Text() const;

private:
    sockaddr_storage storage_{};
    socklen_t len_ = 0;
};

// Whether this system can make IPv6 sockets at all (asked once).
bool SystemHasIpv6();

} // namespace nubo
