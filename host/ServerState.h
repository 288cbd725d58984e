#pragma once
// The server's state as the console shows it. One value drives the port label, the
// start and stop controls, the tray icon with its tooltip and the window title, so
// they cannot disagree.

#include <string>

namespace nubo {

enum class TTrayState {
    Busy = 1,    // running, with clients logged in
    Stopped = 2, // not listening
    Idle = 3,    // running, nobody logged in
};

struct TServerState {
    enum class TPhase { Stopped, Starting, Listening, Failed };
    TPhase Phase = TPhase::Stopped;
    std::string Port;      // Listening: the port; Starting, Failed: the port asked for
    std::string Reason;    // Failed: why the start failed
    int Users = 0;         // logged-in clients
    int MaxUsers = 0;      // the settings' limit of logged-in clients; 0: none
    std::string UsersText; // "3 Users" / "No Users" in the log language

    bool Listening() const { return Phase == TPhase::Listening; }
    TTrayState Tray() const {
        return !Listening() ? TTrayState::Stopped : Users > 0 ? TTrayState::Busy : TTrayState::Idle;
    }
};

} // namespace nubo
