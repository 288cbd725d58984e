// nuboftp: the console. The server, its policy and the window share the one thread:
// Qt's event loop drives the server's through the window's socket notifier.
#include <QApplication>
#include <QFont>
#include <string>

#include "app/ProgramShell.h"
#include "console/Main.h"
#include "console/QtText.h"
#include "socket/EventLoop.h"

using namespace nubo;

int main(int argc, char** argv) {
    TProgramShell shell("nuboftp", "/start|/stop|/restart|/close|/hidetray|/showtray");
    // Before QApplication: its threads must inherit the blocked quit signals.
    if (const int rc = shell.Begin(argc, argv, false); rc >= 0) return rc;
    TConsoleStart start{shell.Options().Dir, shell.Options().Port, {}};
    for (const auto& p : shell.Options().Params) start.Params << QString::fromLocal8Bit(p.c_str());

    int qargc = 1;
    QApplication app(qargc, argv);
    app.setQuitOnLastWindowClosed(false);
    app.setOrganizationName(QStringLiteral("Nubo"));
    app.setApplicationName(QStringLiteral("Nubo FTP Server"));
    InstallQtTranslations(app);
    // One font with Hangul and Latin glyphs, so a line does not change its face
    // where Korean text begins.
    QFont font = QApplication::font();
    font.setFamilies({QStringLiteral("Noto Sans CJK KR"), QStringLiteral("Malgun Gothic"), font.family()});
    QApplication::setFont(font);

    TfrmMain frm(start);
    // SIGINT and SIGTERM quit as the menu's "끝내기" does: clients dropped, server
    // stopped, the shutdown line logged.
    shell.Attach(
        TEventLoop::Current(), [&] { frm.Quit(); },
        [&](const TInstanceRequest& req) {
            if (req.Activate) frm.Activate();
            if (!req.CommandLine.empty()) frm.RunCommandLine(Q(req.CommandLine));
        });
    if (!shell.Joined().empty()) frm.RunCommandLine(Q(shell.Joined()));
    frm.ShowAtStart();
    return app.exec();
}
