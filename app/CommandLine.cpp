#include "app/CommandLine.h"

#include <cstdio>
#include <cstdlib>

#include "platform/ProcessSetup.h"

namespace nubo {

namespace {

void Usage(FILE* out, const char* program, const char* switches, const char* more) {
    std::fprintf(out,
                 "Usage: %s [--dir DIR] [--port N] [%s]\n"
                 "  --dir DIR   folder of ftp_config.ini, ftp_users.ini, log/ and down/\n"
                 "              (default: the folder of the executable)\n"
                 "  --port N    listen on port N for this run (the settings file is not changed)\n"
                 "  --help      this text\n"
                 "  --version   the version\n",
                 program, switches);
    if (more) std::fprintf(out, "%s", more);
}

} // namespace

int ParseProgramOptions(int argc, char** argv, const char* program, const char* switches, TProgramOptions& o,
                        const char* more) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout, program, switches, more);
            return 0;
        }
        if (a == "--version") {
            std::printf("%s %s\n", program, NUBO_VERSION);
            return 0;
        }
        if ((a == "--dir" || a == "--port") && i + 1 < argc) {
            (a == "--dir" ? o.Dir : o.Port) = argv[++i];
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "%s: %s: %s\n", program, a.c_str(),
                         a == "--dir" || a == "--port" ? "missing value" : "unknown option");
            Usage(stderr, program, switches, more);
            return 2;
        }
        o.Params.push_back(a);
    }
    if (!o.Port.empty()) {
        char* end = nullptr;
        long v = std::strtol(o.Port.c_str(), &end, 10);
        if (*end || v < 0 || v > 65535) {
            std::fprintf(stderr, "%s: --port: not a port number: %s\n", program, o.Port.c_str());
            return 2;
        }
    }
    if (o.Dir.empty()) o.Dir = ExecutableFolder();
    if (o.Dir.back() != '/') o.Dir += '/';
    return -1;
}

} // namespace nubo
