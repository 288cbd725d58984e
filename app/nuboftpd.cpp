// nuboftpd: the FTP server and its whole policy without windows. One copy runs per
// program folder; a second start hands its command line to it. SIGINT and SIGTERM quit.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "app/CommandLine.h"
#include "host/FtpHost.h"
#include "host/LogRuns.h"
#include "platform/SingleInstance.h"
#include "socket/EventLoop.h"
#include "store/LangText.h"

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
    TProgramOptions opts;
    int rc = ParseProgramOptions(argc, argv, "nuboftpd", "/start|/stop|/restart|/close", opts);
    if (rc >= 0) return rc;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);
    // Every client costs descriptors: take all the system allows this process.
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }

    std::string joined;
    for (const auto& c : opts.Params) joined += (joined.empty() ? "" : " ") + c;
    joined = TrimBlanks(joined); // the joined text is trimmed at both ends
    TInstanceChannel channel(opts.Dir);
    if (!channel.Listen()) {
        if (TInstanceChannel::Send(opts.Dir, {true, joined})) {
            std::printf("nuboftpd: handed to the copy running in %s\n", opts.Dir.c_str());
            return 0;
        }
        std::fprintf(stderr, "nuboftpd: %s; running without the instance channel\n", channel.Error().c_str());
    }

    TEventLoop& loop = TEventLoop::Current();
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    int sfd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);

    TFtpHost host(opts.Dir, loop);
    TPrintView view;
    host.SetView(&view);
    host.Log.WritePlain(lpSystem, FormatText(host.Lang.LangText(sVersion), {NUBO_VERSION}));
    host.Log.WritePlain(lpSystem, host.Lang.LangText(sVersion2));
    host.Log.WritePlain(lpSystem, "");
    host.SetPortOverride(opts.Port);

    loop.Add(sfd, ioRead, [&](uint32_t) {
        signalfd_siginfo si;
        while (read(sfd, &si, sizeof si) == sizeof si) {
        }
        host.Shutdown();
        loop.Quit();
    });
    if (channel.Fd() >= 0)
        loop.Add(channel.Fd(), ioRead, [&](uint32_t) {
            channel.Serve([&](const TInstanceRequest& req) {
                if (!req.CommandLine.empty()) host.RunCommandLine(req.CommandLine);
            });
        });

    // The server starts with every program start; an invalid setting leaves it stopped
    // and the program running.
    try {
        host.Start();
    } catch (const std::exception& e) {
        host.Log.WriteLog(lpSystem, LogRun(kLogText, e.what()));
    }
    if (!joined.empty()) host.RunCommandLine(joined);
    host.StartTimers();
    loop.Run();
    close(sfd);
    return 0;
}
