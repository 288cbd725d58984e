#include "socket/NameResolution.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <netdb.h>
#include <netinet/in.h>

#include "platform/Text.h"
#include "socket/SocketErrors.h"

namespace nubo {

namespace {

// Exactly four decimal parts of at most 255, single dots, nothing empty.
bool ParseDotted(const std::string& text, uint32_t& out) {
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
    out = htonl(parts[0] << 24 | parts[1] << 16 | parts[2] << 8 | parts[3]);
    return true;
}

} // namespace

std::string DottedAddress(uint32_t netOrder) {
    char buf[INET_ADDRSTRLEN];
    const in_addr a{netOrder};
    inet_ntop(AF_INET, &a, buf, sizeof buf);
    return buf;
}

uint32_t WSocketResolveHost(const std::string& host) {
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.", WSAEINVAL);
    std::string t = TrimBlanks(host);
    uint32_t a;
    if (ParseDotted(t, a)) {
        if (a == INADDR_NONE && t != "255.255.255.255")
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.", WSAEINVAL);
        return a;
    }
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = AF_INET;
    int rc = getaddrinfo(t.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
        int code = rc == EAI_NONAME ? 11001 : rc == EAI_AGAIN ? 11002 : 11003;
        throw ESocketException(
            "WSocketResolveHost: Cannot convert host address '" + host + "', Error #" + std::to_string(code), code);
    }
    uint32_t v = reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(res);
    return v;
}

uint16_t WSocketResolvePort(const std::string& port, const std::string& proto) {
    if (port.empty() || port.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Port.", WSAEINVAL);
    if (proto.empty() || proto.size() >= 32) throw ESocketException("WSocketResolvePort: Invalid Proto.", WSAEINVAL);
    if (std::isdigit((unsigned char)port[0])) {
        unsigned long v = 0;
        for (char c : port) {
            if (!std::isdigit((unsigned char)c)) break;
            v = (v * 10 + unsigned(c - '0')) & 0xFFFFFFFFul;
        }
        return uint16_t(v & 0xFFFF);
    }
    std::string p = TrimBlanks(proto);
    servent* se = getservbyname(TrimBlanks(port).c_str(), p.empty() ? nullptr : p.c_str());
    if (!se) {
        // Without a services database the two names the engine uses still work.
        std::string name = LowerCase(TrimBlanks(port));
        if (name == "ftp") return 21;
        if (name == "ftp-data") return 20;
        throw ESocketException("WSocketResolvePort: Cannot convert port '" + port + "', Error #11001", 11001);
    }
    return ntohs(uint16_t(se->s_port));
}

int WSocketResolveProto(const std::string& proto) {
    if (proto.empty() || proto.size() >= 32)
        throw ESocketException("WSocketResolveProto: Invalid Protocol.", WSAEINVAL);
    if (std::isdigit((unsigned char)proto[0])) return std::atoi(proto.c_str());
    std::string p = LowerCase(TrimBlanks(proto));
    if (p == "tcp") return IPPROTO_TCP;
    protoent* pe = getprotobyname(p.c_str());
    if (!pe)
        throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + proto + "', Error #11001", 11001);
    return pe->p_proto;
}

} // namespace nubo
