#pragma once
// The server's state as the tray icon and the window icon show it.

namespace nubo {

enum class TTrayState {
    Busy = 1,    // running, with clients connected
    Stopped = 2, // not listening
    Idle = 3,    // running, nobody connected
};

} // namespace nubo
