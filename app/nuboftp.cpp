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

#include "app/CommandLine.h"
#include "console/Main.h"
#include "console/QtText.h"
#include "platform/SingleInstance.h"
#include "socket/EventLoop.h"

using namespace nubo;

int main(int argc, char** argv) {
    TProgramOptions opts;
    if (int rc = ParseProgramOptions(argc, argv, "nuboftp",
                                     "/start|/stop|/restart|/close|/hidetray|/showtray", opts);
        rc >= 0)
        return rc;
    TConsoleStart start{opts.Dir, opts.Port, {}};
    for (const auto& p : opts.Params)
        start.Params << QString::fromLocal8Bit(p.c_str());
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
    font.setFamilies(
        {QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Malgun Gothic"), font.family()});
    QApplication::setFont(font);

    TfrmMain frm(start);
    TEventLoop& loop = TEventLoop::Current();
    const int sfd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
    loop.Add(sfd, ioRead, [&](uint32_t) {
        signalfd_siginfo si;
        while (read(sfd, &si, sizeof si) == sizeof si) {
        }
        frm.cmdQuitClick();
    });
    if (channel.Fd() >= 0)
        loop.Add(channel.Fd(), ioRead, [&](uint32_t) {
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
