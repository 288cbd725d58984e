#include "platform/FileLock.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace nubo {

TFileLock::TFileLock(const std::string& path, int waitMs) {
    fd_.Reset(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!fd_) {
        error_ = errno;
        return;
    }
    // Polled rather than blocking: a holder that hangs must not hang the server's loop
    // for longer than the wait. Writers hold it for the milliseconds of one file write.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    for (auto pause = std::chrono::microseconds(200);; pause = std::min(pause * 2, std::chrono::microseconds(20000))) {
        if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) == 0) {
            locked_ = true;
            return;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) break;
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(pause);
    }
    error_ = errno;
}

} // namespace nubo
