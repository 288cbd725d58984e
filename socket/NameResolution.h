#pragma once
// Host, port and protocol names turned into numbers, with the layer's error texts; each
// throws ESocketException. IPv4 only.

#include <cstdint>
#include <string>

namespace nubo {

uint32_t WSocketResolveHost(const std::string& host); // network order
uint16_t WSocketResolvePort(const std::string& port, const std::string& proto);
int WSocketResolveProto(const std::string& proto);
// An address in network order as dotted text.
std::string DottedAddress(uint32_t netOrder);

} // namespace nubo
