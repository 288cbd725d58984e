// nuboftp: the console. The server, its policy and the window share the one thread:
// Qt's event loop drives the server's through the window's socket notifier.
#include <QApplication>
#include <QFont>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

#include "console/Main.h"
#include "console/QtText.h"
#include "platform/SingleInstance.h"
#include "socket/EventLoop.h"

using namespace nubo;

namespace {

void Usage(FILE* out) {
    std::fputs("Usage: nuboftp [--dir DIR] [--port N] [/start|/stop|/restart|/close|/hidetray|/showtray]\n"
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
int ParseArgs(int argc, char** argv, TConsoleStart& o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        }
        if (a == "--version") {
            std::printf("nuboftp %s\n", NUBO_VERSION);
            return 0;
        }
        if ((a == "--dir" || a == "--port") && i + 1 < argc) {
            (a == "--dir" ? o.Dir : o.Port) = argv[++i];
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "nuboftp: %s: %s\n", a.c_str(),
                         a == "--dir" || a == "--port" ? "missing value" : "unknown option");
            Usage(stderr);
            return 2;
        }
        o.Params << QString::fromLocal8Bit(argv[i]);
    }
    if (!o.Port.empty()) {
        char* end = nullptr;
        long v = std::strtol(o.Port.c_str(), &end, 10);
        if (*end || v < 0 || v > 65535) {
            std::fprintf(stderr, "nuboftp: --port: not a port number: %s\n", o.Port.c_str());
            return 2;
        }
    }
    if (o.Dir.empty()) o.Dir = ExecutableFolder();
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    TConsoleStart start;
    if (int rc = ParseArgs(argc, argv, start); rc >= 0) return rc;
    std::signal(SIGPIPE, SIG_IGN);

    // One copy per folder: a second start hands over its command line (also to a
    // nuboftpd running there) and exits once the running copy has run it.
    const QString joined = JoinCommandLine(start.Params);
    TInstanceChannel channel(start.Dir);
    if (!channel.Listen()) {
        if (TInstanceChannel::Send(start.Dir, {true, joined.toStdString()})) return 0;
        std::fprintf(stderr, "nuboftp: %s; running without the instance channel\n",
                     channel.Error().c_str());
    }

    // SIGINT and SIGTERM quit as the menu's "끝내기" does: clients dropped, server
    // stopped, the shutdown line logged.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);

    int qargc = 1;
    QApplication app(qargc, argv);
    app.setQuitOnLastWindowClosed(false);
    app.setApplicationName(QStringLiteral("Nubo FTP Server"));
    // One font with Hangul and Latin glyphs, so a line does not change its face
    // where Korean text begins.
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Malgun Gothic"), font.family()});
    QApplication::setFont(font);

    TfrmMain frm(start);
    TEventLoop& loop = TEventLoop::Current();
    const int sfd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    loop.Add(sfd, 0x001 /* EPOLLIN */, [&](uint32_t) {
        signalfd_siginfo si;
        while (read(sfd, &si, sizeof si) == sizeof si) {
        }
        frm.cmdQuitClick();
    });
    if (channel.Fd() >= 0)
        loop.Add(channel.Fd(), 0x001, [&](uint32_t) {
            channel.Serve([&](const TInstanceRequest& req) {
                if (req.Activate) frm.Activate();
                if (!req.CommandLine.empty()) frm.RunCommandLine(Q(req.CommandLine));
            });
        });
    if (!joined.isEmpty()) frm.RunCommandLine(joined);
    frm.ShowAtStart();
    const int rc = app.exec();
    close(sfd);
    return rc;
}
