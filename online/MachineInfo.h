#pragma once
// What the platform tells about this machine, for the web service.

#include <QString>

namespace nubo {

// The machine's identifier as a braced GUID: the system's machine id
// ("{3d1219c7-c4c5-404a-aa1f-6d2a48adfda4}"); empty when the system has none.
QString MachineIdentifier();

// The first IPv4 address of an interface that is up and not the loopback, or
// "connect_fail" when there is none.
QString LocalAddress();

} // namespace nubo
