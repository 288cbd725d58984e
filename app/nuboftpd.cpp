// nuboftpd: the FTP server and its whole policy without windows. One copy runs per
// program folder; a second start hands its command line to it. SIGINT and SIGTERM quit.
// "nuboftpd user|deny|allow ..." edits the account file or the address lists and exits.
#include <cstdio>

#include "app/AdminCommands.h"
#include "app/ProgramShell.h"
#include "host/FtpHost.h"
#include "host/LogRuns.h"
#include "platform/ProcessSetup.h"
#include "socket/EventLoop.h"

using namespace nubo;

namespace {

// The log panes on standard output, one line per message, markup stripped.
class TPrintView : public THostView {
public:
    void LineAdded(int pane, const TLogLine& line) override { out_.LineAdded(pane, line); }

private:
    TStreamLogView out_{stdout};
};

} // namespace

int main(int argc, char** argv) {
    if (const int rc = RunAdminCommandLine(argc, argv); rc >= 0) return rc;
    TProgramShell shell("nuboftpd", "/start|/stop|/restart|/close", kAdminUsage);
    if (const int rc = shell.Begin(argc, argv, true); rc >= 0) return rc;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    RaiseDescriptorLimit();

    TEventLoop& loop = TEventLoop::Current();
    TFtpHost host(shell.Options().Dir, loop);
    TPrintView view;
    host.SetView(&view);
    host.WriteVersionLines();
    host.SetPortOverride(shell.Options().Port);
    shell.Attach(
        loop,
        [&] {
            host.Shutdown();
            loop.Quit();
        },
        [&](const TInstanceRequest& req) {
            if (!req.CommandLine.empty()) host.RunCommandLine(req.CommandLine);
        });

    // The server starts with every program start; an invalid setting leaves it stopped
    // and the program running.
    try {
        host.Start();
    } catch (const std::exception& e) {
        host.Log().WriteLog(lpSystem, LogRun(kLogText, e.what()));
    }
    if (!shell.Joined().empty()) host.RunCommandLine(shell.Joined());
    host.StartTimers();
    loop.Run();
    return 0;
}
