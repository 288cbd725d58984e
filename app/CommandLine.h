#pragma once
// The command line shared by nuboftpd and nuboftp: --dir, --port, --help, --version;
// every other argument is one of the program's switches ("/start", "/stop", ...).

#include <string>
#include <vector>

namespace nubo {

struct TProgramOptions {
    std::string Dir;                 // with a trailing '/'; default: the executable's folder
    std::string Port;                // empty: the settings file's port
    std::vector<std::string> Params; // the switches, in order
};

// program names the executable in messages; switches is the usage line's switch list;
// more, when given, is printed under the usage. Returns -1 to go on, or the exit code
// after --help, --version or an error.
int ParseProgramOptions(int argc, char** argv, const char* program, const char* switches, TProgramOptions& o,
                        const char* more = nullptr);

} // namespace nubo
