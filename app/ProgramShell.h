#pragma once
// What nuboftpd and nuboftp do alike around their own main: the command line, one
// running copy per program folder, and SIGINT or SIGTERM as a quit request that the
// event loop handles between two events.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/CommandLine.h"
#include "platform/ProcessSetup.h"
#include "platform/SingleInstance.h"
#include "socket/EventLoop.h"

namespace nubo {

class TProgramShell {
public:
    // program names the executable in messages; switches is the usage line's list;
    // more, when given, is printed under the usage.
    TProgramShell(const char* program, const char* switches, const char* more = nullptr);
    ~TProgramShell();
    TProgramShell(const TProgramShell&) = delete;
    TProgramShell& operator=(const TProgramShell&) = delete;

    // Reads the command line; when a copy already runs in the folder, hands it this
    // start's switches. Then blocks the quit signals: call it before any thread starts.
    // Returns -1 to go on as the running copy, else the exit code (after --help,
    // --version, a wrong option, or a start handed over, which sayHandedOver reports
    // on standard output).
    int Begin(int argc, char** argv, bool sayHandedOver);

    const TProgramOptions& Options() const { return opts_; }
    // The switches joined as a second start hands them over; empty without any.
    const std::string& Joined() const { return joined_; }

    // From now on the loop runs quit on SIGINT or SIGTERM, and serve on every request
    // of a later start (when this copy holds the channel). Both are dropped from the
    // loop with the shell.
    void Attach(TEventLoop& loop, std::function<void()> quit, std::function<void(const TInstanceRequest&)> serve);

private:
    const char* program_;
    const char* switches_;
    const char* more_;
    TProgramOptions opts_;
    std::string joined_;
    std::unique_ptr<TInstanceChannel> channel_;
    std::unique_ptr<TQuitSignals> signals_;
    TEventLoop* loop_ = nullptr;
    uint64_t signalToken_ = 0, channelToken_ = 0;
};

} // namespace nubo
