// nuboftpd: the FTP server and its whole policy without windows. One copy runs per
// program folder; a second start hands its command line to it. SIGINT and SIGTERM quit.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

#include "host/FtpHost.h"
#include "host/LogRuns.h"
#include "platform/SingleInstance.h"
#include "socket/EventLoop.h"
#include "store/LangText.h"

using namespace nubo;

namespace {

struct Options {
    std::string dir;
    std::string port;
    std::vector<std::string> commands; // "/start", "/stop", ...
};

void Usage(FILE* out) {
    std::fputs("Usage: nuboftpd [--dir DIR] [--port N] [/start|/stop|/restart|/close]\n"
               "  --dir DIR   folder of ftp_config.ini, ftp_users.ini, log/ and down/\n"
               "              (default: the folder of the executable)\n"
               "  --port N    listen on port N for this run (the settings file is not changed)\n"
               "  --help      this text\n"
               "  --version   the version\n",
               out);
}

std::string ExecutableFolder() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, size_t(n));
    return p.substr(0, p.find_last_of('/'));
}

// Returns -1 to go on, or the exit code.
int ParseArgs(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("nuboftpd %s\n", NUBO_VERSION);
            return 0;
        }
        if ((a == "--dir" || a == "--port") && i + 1 < argc) {
            (a == "--dir" ? o.dir : o.port) = argv[++i];
            continue;
        }
        if (a == "--dir" || a == "--port" || a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "nuboftpd: %s: %s\n", a.c_str(),
                         a == "--dir" || a == "--port" ? "missing value" : "unknown option");
            Usage(stderr);
            return 2;
        }
        o.commands.push_back(a);
    }
    if (!o.port.empty()) {
        char* end = nullptr;
        long v = std::strtol(o.port.c_str(), &end, 10);
        if (*end || v < 0 || v > 65535) {
            std::fprintf(stderr, "nuboftpd: --port: not a port number: %s\n", o.port.c_str());
            return 2;
        }
    }
    if (o.dir.empty()) o.dir = ExecutableFolder();
    if (o.dir.back() != '/') o.dir += '/';
    return -1;
}

// The log panes on standard output, one line per message, markup stripped.
class TPrintView : public THostView {
public:
    void LineAdded(int pane, const TLogLine& line) override { out_.LineAdded(pane, line); }

private:
    TStreamLogView out_{stdout};
};

} // namespace

int main(int argc, char** argv) {
    Options opts;
    int rc = ParseArgs(argc, argv, opts);
    if (rc >= 0) return rc;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);

    std::string joined;
    for (const auto& c : opts.commands) joined += (joined.empty() ? "" : " ") + c;
    TInstanceChannel channel(opts.dir);
    if (!channel.Listen()) {
        if (TInstanceChannel::Send(opts.dir, {true, joined})) {
            std::printf("nuboftpd: handed to the copy running in %s\n", opts.dir.c_str());
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

    TFtpHost host(opts.dir, loop);
    TPrintView view;
    host.SetView(&view);
    host.Log.WritePlain(lpSystem, FormatText(host.Lang.LangText(sVersion), {NUBO_VERSION}));
    host.Log.WritePlain(lpSystem, host.Lang.LangText(sVersion2));
    host.Log.WritePlain(lpSystem, "");
    host.SetPortOverride(opts.port);

    loop.Add(sfd, 0x001 /* EPOLLIN */, [&](uint32_t) {
        signalfd_siginfo si;
        while (read(sfd, &si, sizeof si) == sizeof si) {
        }
        host.Shutdown();
        loop.Quit();
    });
    if (channel.Fd() >= 0)
        loop.Add(channel.Fd(), 0x001, [&](uint32_t) {
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
