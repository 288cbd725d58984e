// nuboftpd: the FTP server without windows. Runs the engine on the one event loop
// until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>

#include "engine/FtpSrv.h"
#include "host/LoadSettings.h"
#include "host/LogWriter.h"
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

} // namespace

int main(int argc, char** argv) {
    Options opts;
    int rc = ParseArgs(argc, argv, opts);
    if (rc >= 0) return rc;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::signal(SIGPIPE, SIG_IGN);

    TEventLoop& loop = TEventLoop::Current();
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    int sfd = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);

    // The program folder: first-start files, settings, language texts and the log.
    try {
        CreateFirstStartFiles(opts.dir);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "nuboftpd: %s\n", e.what());
    }
    const TSettingsFile config(opts.dir + std::string(kSettingsFileName));
    TSettings settings;
    TLangTexts lang(opts.dir);
    lang.SetLangSpec(config.LangSpec());
    TLogWriter log(settings, opts.dir);
    TStreamLogView stdoutView(stdout);
    log.SetView(&stdoutView);
    log.WritePlain(lpSystem, FormatText(lang.LangText(sVersion), {NUBO_VERSION}));
    log.WritePlain(lpSystem, lang.LangText(sVersion2));
    log.WritePlain(lpSystem, "");

    TFtpServer server(loop);
    server.Banner = "220 VELMORA FTP Server ready.";
    server.OnStart = [&](TFtpServer& s) {
        log.WriteLog(lpSystem, lang.LangText(sSerStart));
        log.WriteLog(lpSystem, lang.LangText(sFTPPort) + " " + LogRun(kLogPort, s.Port));
    };
    server.OnStop = [&](TFtpServer&) { log.WriteLog(lpSystem, lang.LangText(sSerStop)); };

    loop.Add(sfd, 0x001 /* EPOLLIN */, [&](uint32_t) {
        signalfd_siginfo si;
        while (read(sfd, &si, sizeof si) == sizeof si) {
        }
        server.DropAllClients();
        server.Stop();
        log.WriteLog(lpSystem, lang.LangText(sSrvShutDown));
        loop.Quit();
    });

    // A settings error leaves the server stopped; the program keeps running.
    try {
        LoadSettings(config, server, settings);
        if (!opts.port.empty()) server.Port = opts.port;
        try {
            server.Start();
        } catch (const std::exception&) {
            log.WriteLog(lpSystem, FormatText(lang.LangText(sNoPort), {server.Port}));
            log.WriteLog(lpSystem, lang.LangText(sNotStart));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
    loop.Run();
    close(sfd);
    return 0;
}
