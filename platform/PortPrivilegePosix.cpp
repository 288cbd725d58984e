#include <fstream>
#include <unistd.h>

#include "platform/PortPrivilege.h"

namespace nubo {

// Root binds any port; anyone else from the kernel's first unprivileged port on (1024
// unless the system lowered it). An unreadable setting counts as the default.
bool MayBindPort(unsigned port) {
    if (geteuid() == 0) return true;
    std::ifstream f("/proc/sys/net/ipv4/ip_unprivileged_port_start");
    unsigned start = 1024;
    if (!(f >> start)) start = 1024;
    return start <= port;
}

} // namespace nubo
