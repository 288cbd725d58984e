#include "platform/ProcessSetup.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace nubo {

TQuitSignals::TQuitSignals() {
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGINT);
    sigaddset(&mask, SIGTERM);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    fd_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
}

TQuitSignals::~TQuitSignals() {
    if (fd_ >= 0) close(fd_);
}

void TQuitSignals::Drain() {
    signalfd_siginfo si;
    while (read(fd_, &si, sizeof si) == sizeof si) {
    }
}

void IgnoreBrokenPipes() {
    std::signal(SIGPIPE, SIG_IGN);
}

void RaiseDescriptorLimit() {
    rlimit lim{};
    if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
        lim.rlim_cur = lim.rlim_max;
        setrlimit(RLIMIT_NOFILE, &lim);
    }
}

std::string ExecutableFolder() {
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string p(buf, size_t(n));
    return p.substr(0, p.find_last_of('/'));
}

std::string MachineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == 0) return "localhost";
    return name;
}

} // namespace nubo
