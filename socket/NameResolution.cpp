#include "socket/NameResolution.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/Text.h"
#include "socket/SocketErrors.h"

namespace nubo {

TInetAddress WSocketResolveHost(const std::string& host, int family) {
    if (host.empty() || host.size() > 256)
        throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.", WSAEINVAL);
    const std::string t = TrimBlanks(host);
    TInetAddress a;
    if (TInetAddress::Parse(t, a)) {
        if (family != AF_UNSPEC && a.Family() != family)
            throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.", WSAEINVAL);
        return a;
    }
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    int rc = getaddrinfo(t.c_str(), nullptr, &hints, &res);
    if (rc != 0 || !res) {
        int code = rc == EAI_NONAME ? 11001 : rc == EAI_AGAIN ? 11002 : 11003;
        throw ESocketException(
            "WSocketResolveHost: Cannot convert host address '" + host + "', Error #" + std::to_string(code), code);
    }
    a = TInetAddress(res->ai_addr, res->ai_addrlen);
    freeaddrinfo(res);
    return a;
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
