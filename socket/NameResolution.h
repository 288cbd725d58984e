#pragma once
// Host, port and protocol names turned into numbers, with the layer's error texts; each
// throws ESocketException.

#include <cstdint>
#include <string>
#include <sys/socket.h>

#include "socket/InetAddress.h"

namespace nubo {

// Numeric text (IPv4, or IPv6 with or without brackets) as it stands, else the name
// resolved: the system's first address of the family (AF_UNSPEC: either). Port 0.
TInetAddress WSocketResolveHost(const std::string& host, int family = AF_UNSPEC);
uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
int WSocketResolveProto(const std::string& proto);

} // namespace nubo
