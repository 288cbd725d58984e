#include "platform/Terminal.h"

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace nubo {

bool StdinIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> ReadHiddenLine(const std::string& prompt) {
    termios old{};
    if (::tcgetattr(STDIN_FILENO, &old) != 0) return std::nullopt;
    termios quiet = old;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    if (::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) != 0) return std::nullopt;
    // Only now: what is typed after the prompt must not be echoed nor flushed.
    std::fputs(prompt.c_str(), stderr);
    std::fflush(stderr);
    std::string line;
    bool got = false;
    for (char c; ::read(STDIN_FILENO, &c, 1) == 1;) {
        got = true;
        if (c == '\n') break;
        line += c;
    }
    ::tcsetattr(STDIN_FILENO, TCSANOW, &old);
    if (!got) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

std::optional<std::string> ReadStdinLine(size_t maxBytes) {
    std::string line;
    bool got = false;
    // Byte by byte: nothing past the line is taken from a pipe another reader may share.
    for (char c; ::read(STDIN_FILENO, &c, 1) == 1;) {
        got = true;
        if (c == '\n') break;
        if (line.size() <= maxBytes) line += c;
    }
    if (!got) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

} // namespace nubo
