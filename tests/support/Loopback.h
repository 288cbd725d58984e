#pragma once
// Loopback helpers for tests that talk to real sockets on 127.0.0.1.

namespace nubo::test {

// A TCP port on 127.0.0.1 that was free a moment ago (the system's choice of an
// ephemeral port, released again).
int FreePort();

// A blocking TCP connection to 127.0.0.1:port; -1 when refused.
int ConnectLoopback(int port);

} // namespace nubo::test
